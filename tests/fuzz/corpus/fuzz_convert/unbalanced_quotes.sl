1000PRNT,:"aperte;
PLUD,:""",P100,N1;
DISP,N1,:"";
QRCO,:"x;
BANC,:",V1;
TICK,:"""",Q1.5,V1;
