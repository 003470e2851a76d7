0000READ,:VELMARD.LOG;
READ,:sr_dati.001;
READ,:Tb-Reparti.xml;
READ,:..\x.txt;
READ,:C:x;
READ,:TRACE_202612;
READ,:XON.txt;
SALE,N1,P100;
