// logon page
