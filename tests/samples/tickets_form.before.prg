* The test server's connection in lcConnect, which samples/tickets_form.prg sets to
* its own, and the sample's table and trigger (samples/tickets.sql) made anew.
lcConnect = "server=" + GETENV("VARNEL_TEST_SERVER") + ";port=" + GETENV("VARNEL_TEST_PORT") + ";database=" + GETENV("VARNEL_TEST_DATABASE") + ";user=" + GETENV("VARNEL_TEST_USER") + ";password=" + GETENV("VARNEL_TEST_PASSWORD")
RUN ../scripts/sql.sh "drop table tickets;" >/dev/null 2>&1
RUN ../scripts/sql.sh "$(cat ../../samples/tickets.sql)"
