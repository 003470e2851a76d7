READ,:dati;
DISP,:Ciao;
