0000READ,:dati;
read,:dati.txt
READ,:"quoted.txt"
READ,:   ;
READ,:..
SALE,N1,P100;
