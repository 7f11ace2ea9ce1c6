Y@
Y
B
