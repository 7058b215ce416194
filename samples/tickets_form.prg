* Help desk: a form whose grid shows the tickets and stays current while other
* people change them. The server's trigger (tickets.sql) posts TICKETS_CHANGED when
* a transaction changes the table; Varnel then runs goTickets.TicketsChanged(...) on
* this program's main thread, and the form reads the table again. The rows come
* through an ODBC data source for the database ("helpdesk", Firebird's ODBC driver);
* Varnel carries only the events.
*
* Lines that end in "&& checked" are run by the project's tests through varnel-host
* against a test server (tests/samples/): the calls of Varnel's functions. The
* connection string is the test server's there, and READ EVENTS, the form and its
* data are not run.

SET LIBRARY TO Varnel.fll ADDITIVE

PUBLIC goTickets
goTickets = CREATEOBJECT("TicketsForm")
IF VARTYPE(goTickets) = "O"
    goTickets.Show()
    READ EVENTS
ENDIF

DEFINE CLASS TicketsForm AS Form
    Caption = "Tickets"
    Width = 640
    Height = 400
    nData = 0
    nVarnel = 0
    ADD OBJECT grdTickets AS Grid WITH Top = 8, Left = 8, Width = 624, Height = 360, ;
        ReadOnly = .T.
    ADD OBJECT lblStatus AS Label WITH Top = 374, Left = 8, Width = 624, ;
        Caption = "Connecting..."

    PROCEDURE Init
        LOCAL lcConnect, lnHandle, loError
        This.nData = SQLSTRINGCONNECT("DSN=helpdesk;UID=CLERK;PWD=secret")
        IF This.nData < 1
            MESSAGEBOX("The database cannot be reached.", 16, This.Caption)
            RETURN .F.
        ENDIF
        This.LoadTickets()
        * The events: a connection of Varnel's own to the same database.
        lcConnect = "server=dbhost;database=helpdesk;user=CLERK;password=secret"
        TRY
            lnHandle = VN_STRINGCONNECT(lcConnect)  && checked
            This.nVarnel = lnHandle
            VN_SUBSCRIBE(lnHandle, "TICKETS_CHANGED", "goTickets.TicketsChanged(<Msg>)")  && checked
            VN_ONLOST(lnHandle, "goTickets.EventsLost(<Msg>)")  && checked
            VN_ONRESTORED(lnHandle, "goTickets.EventsBack(<Msg>)")  && checked
            This.lblStatus.Caption = "Live: changes show at once."
        CATCH TO loError
            This.lblStatus.Caption = "Not live (" + loError.Message + ")"
        ENDTRY
    ENDPROC

    * Reads the table again; the grid shows the new rows.
    PROCEDURE LoadTickets
        This.grdTickets.RecordSource = ""
        SQLEXEC(This.nData, "select id, subject, status, changed_at from tickets " + ;
            "order by id", "crsTickets")
        This.grdTickets.RecordSource = "crsTickets"
    ENDPROC

    * Runs on the main thread for every commit that changed the table; tcMsg is e.g.
    * "TICKETS_CHANGED: 2" (two rows changed, or two commits while the program was
    * busy).
    PROCEDURE TicketsChanged(tcMsg)
        This.LoadTickets()
        This.lblStatus.Caption = tcMsg + " at " + TIME()
    ENDPROC

    * The connection to the server was lost; Varnel connects again by itself.
    PROCEDURE EventsLost(tnHandle, tcReason)
        This.lblStatus.Caption = "Not live for now: " + tcReason
    ENDPROC

    * Back, with the subscription: what changed while it was down fired no command,
    * so the grid is read again.
    PROCEDURE EventsBack(tnHandle, tcText)
        This.LoadTickets()
        This.lblStatus.Caption = "Live again at " + TIME()
    ENDPROC

    PROCEDURE Destroy
        LOCAL lnHandle
        lnHandle = This.nVarnel
        IF lnHandle > 0
            TRY
                VN_DISCONNECT(lnHandle)  && checked
            CATCH
                * Gone already: nothing to end.
            ENDTRY
        ENDIF
        IF This.nData > 0
            SQLDISCONNECT(This.nData)
        ENDIF
        CLEAR EVENTS
    ENDPROC
ENDDEFINE
