0300PLUD,:G,S3,P100,N1;
PLUD,:V,S2,P100,N1;
PLUD,:X,S3,P100,N3;
CASH;

--8<--
<?xml version='1.0' encoding='UTF-8'?><TabReparti><Reparto><Id>01</Id><Descrizione>A</Descrizione><FlagOmaggio>False</FlagOmaggio><FlagBuono>False</FlagBuono><IdIva>2</IdIva><Scelto>True</Scelto></Reparto><Reparto><Id>02</Id><Descrizione>B</Descrizione><FlagOmaggio>True</FlagOmaggio><FlagBuono>True</FlagBuono><IdIva>2</IdIva><Scelto>True</Scelto></Reparto><Reparto><Id>03</Id><IdIva>1</IdIva></Reparto></TabReparti>
--8<--
<?xml version='1.0' encoding='UTF-8'?><TbIva><Aliquota><Id>01</Id><Percentuale>4.00</Percentuale></Aliquota><Aliquota><Id>02</Id><Percentuale>10.00</Percentuale></Aliquota><Aliquota><Id></Id></Aliquota></TbIva>