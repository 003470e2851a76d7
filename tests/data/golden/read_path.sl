PLUD,:PANE,P100,N1;
READ,:../../x.txt;
CASH;
