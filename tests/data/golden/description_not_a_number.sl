PRNT,:abcdefghijklmnopqrstuvwxyz0123456789;
