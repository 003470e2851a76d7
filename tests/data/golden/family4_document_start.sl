PRNT,:Intestazione;
SALE,N1,P100;
OPNF;
CLNF;
SALE,N2,P200;
sale,N1,p001000
