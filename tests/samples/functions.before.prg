* The test server's settings in the variables that samples/functions.prg sets.
lcServer = GETENV("VARNEL_TEST_SERVER")
lnPort = VAL(GETENV("VARNEL_TEST_PORT"))
lcDatabase = GETENV("VARNEL_TEST_DATABASE")
lcUser = GETENV("VARNEL_TEST_USER")
lcPassword = GETENV("VARNEL_TEST_PASSWORD")
lcConnect = "server=" + lcServer + ";port=" + GETENV("VARNEL_TEST_PORT") + ";database=" + lcDatabase + ";user=" + lcUser + ";password=" + lcPassword
