OPNF;
PRNT,:Grazie;
PRNT,:Arrivederci e a presto;
PRNT;

   
CLNF;
OPEN,N1;
OPEN;
