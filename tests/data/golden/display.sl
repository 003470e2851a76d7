DISP,N1,:Benvenuto;
DISP,N2,:Totale 12.50;
DISP,:;
DISP,N1,:Un testo molto lungo per il display;
