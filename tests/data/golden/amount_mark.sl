PLUD,:a|b,P100,N1;
PRNT,:a|b,%1;
PRNT,:|x;
BARC,T1,:a|b;
