0300PLUD,:G,S3,P100,N1;

--8<--
<TabReparti><Reparto><IdIva>1</Id
--8<--
not xml at all