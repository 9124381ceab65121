// test logon
