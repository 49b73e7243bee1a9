// Docstrings of the module's functions and of the Notify callbacks.

%feature("docstring") python_init_env "python_init_env() -> None

Prepares the module (prints 'init env ...'). Optional: every call that needs
the module's state prepares it on first use.";

%feature("docstring") python_fini_env "python_fini_env() -> None

Ends the session if one runs and releases the module's callback bridge
(prints 'fini env ...'). Waits for a call abandoned with Ctrl-C to end first.";

%feature("docstring") python_open_file_log "python_open_file_log() -> None

Writes the library's log lines to its log file (pid_<pid>.log in the log
folder); on by default.";

%feature("docstring") python_close_file_log "python_close_file_log() -> None

Stops writing the library's log file.";

%feature("docstring") python_open_cout_log "python_open_cout_log() -> None

Also prints the library's log lines to standard output; off by default.";

%feature("docstring") python_close_cout_log "python_close_cout_log() -> None

Stops printing the library's log lines to standard output.";

%feature("docstring") python_login "python_login(json, reserved) -> int

Logs in through the discovery service, then to every datafeed site; blocks
until done. json is a text such as
{\"UserName\": \"u\", \"Password\": \"p\", \"MainServerIP\": \"10.0.0.1\",
 \"MainServerPort\": 8000, \"Is_Ssl\": false, \"CertFolder\": \"./cert\",
 \"Thread_Count\": 4, \"BackServer\": [{\"IP\": \"10.0.0.2\", \"Port\": 8000}]}
(see the README for every key). reserved is ignored.
Returns 0 on success; 1 when a required key is missing, a value is unusable
or a key is unknown (the log names it); -1 when no client can be made;
-1030/-1031 for discovery, -1033 for datafeed login, -2402 for TLS.
Ctrl-C ends the wait: KeyboardInterrupt is raised (the call's code is -1050),
and a login that still completes afterwards is logged out again.";

%feature("docstring") python_logout "python_logout() -> None

Ends the session: stops every connection and callback thread. Safe to
repeat; runs by itself when the interpreter exits.";

%feature("docstring") python_subscribeByDataType "python_subscribeByDataType(json, reserved) -> int

Subscribes by data type for all securities; blocks until every site has
answered. json: {\"SubType\": 1, \"ZelDataTypes\": [3, 6]}; SubType 1 replaces
(coverage), 2 adds, 3 removes, 4 cancels. Returns 0 when every site accepted
(or when nothing was to be sent), -1040 when not accepted, -1027 for an
unknown key (the log names it), -1 without a client. Ctrl-C ends the wait
(KeyboardInterrupt, code -1050).";

%feature("docstring") python_subscribeBySecurityId "python_subscribeBySecurityId(json, reserved) -> int

Subscribes by security id; blocks until every site has answered. json:
{\"SubType\": 2, \"MIVOSecurityIDs\": [{\"ZelDataType\": 9,
 \"MIVOSecurityID\": [\"100000.SH\"]}]}. Each entry sends the request gathered
so far; the result is the sum of those sends (0 when all were accepted).
-1027 for an unknown key, -1 without a client; Ctrl-C as for login.";

%feature("docstring") python_request_fin_info_query_sync "python_request_fin_info_query_sync(json, reserved) -> None

Kept for compatibility; does nothing.";

%feature("docstring") python_request_fin_info_query_async "python_request_fin_info_query_async(json, reserved) -> int

Kept for compatibility; does nothing and returns 0.";

%feature("docstring") Log_Regist "Log_Regist(log) -> None

Kept for compatibility; the library's log lines do not reach Python.";

%feature("docstring") python_get_statistics "python_get_statistics() -> str

The live statistics of the session as JSON text: {\"has_client\": bool,
\"sites\": [{\"site_type\", \"node\", \"link_state\", \"logins\", \"reconnects\",
\"records\", \"frames\", \"wire_bytes\", \"decompressed_bytes\",
\"decode_errors\", \"queued_records\", \"held_bytes\", \"stalls\",
\"ms_since_last_frame\", \"ms_since_last_heartbeat_answer\"}]}. Callable at
any time, also from callbacks.";

%feature("docstring") python_get_subscriptions "python_get_subscriptions() -> str

The subscriptions the session replays after a reconnect, as JSON text:
{\"has_client\": bool, \"subscriptions\": [{\"kind\", \"action\", \"request\",
\"last_result\", \"ms_since_last_result\"}]}.";

%feature("docstring") Notify "Callback class: subclass it, override the methods you need and register an
instance with Notify_Regist. Methods run on library threads; texts arrive as
a pointer and a length valid only during the call (read them with cdata).";
%feature("docstring") Notify::OnMarketData "OnMarketData(data, length): one market data record as JSON text.";
%feature("docstring") Notify::OnBridgeData "OnBridgeData(data, length): a frame the library does not decode.";
%feature("docstring") Notify::OnSubscribeResponse "OnSubscribeResponse(data, length): a site's answer to a subscribe request, as JSON.";
%feature("docstring") Notify::OnGeneralError "OnGeneralError(data, length): an error reported by the service, as JSON.";
%feature("docstring") Notify::OnLoginDiscoverySuccess "OnLoginDiscoverySuccess(data, site_types): the discovery server (address text) accepted the login; the site types it offers.";
%feature("docstring") Notify::OnLoginDiscoveryFailed "OnLoginDiscoveryFailed(data): a discovery server (address text) did not accept the login.";
%feature("docstring") Notify::OnLoginDiscoveryResponse "OnLoginDiscoveryResponse(data, length): the discovery server's login answer, as JSON.";
%feature("docstring") Notify::OnNoDiscoveryServices "OnNoDiscoveryServices(): no discovery server could be reached.";
%feature("docstring") Notify::OnLoginDatafeedNodeSuccess "OnLoginDatafeedNodeSuccess(site_type, data): logged in at a datafeed node (address text).";
%feature("docstring") Notify::OnLoginDatafeedNodeFailed "OnLoginDatafeedNodeFailed(site_type, data): a datafeed node (address text) did not accept the login.";
%feature("docstring") Notify::OnLoginDataServiceSuccess "OnLoginDataServiceSuccess(): every site is logged in.";
%feature("docstring") Notify::OnLoginDataServiceFailed "OnLoginDataServiceFailed(): some site could not log in.";
%feature("docstring") Notify::OnLoginDataServiceResponse "OnLoginDataServiceResponse(data, length): a datafeed node's login answer, as JSON.";
%feature("docstring") Notify::OnDisconnected "OnDisconnected(site_type, data): the link to a datafeed node (address text) was lost.";
%feature("docstring") Notify::OnQueryResponse "OnQueryResponse(query_type, data): kept for compatibility; not called.";
%feature("docstring") Notify::OnFinInfoQueryResponse "OnFinInfoQueryResponse(data, length): kept for compatibility; not called.";

%feature("docstring") cdata "cdata(data, length=1) -> bytes

Copies length bytes from a callback's data pointer into a bytes object; the
pointer is valid only during the callback.";
%feature("docstring") memmove "memmove(data, source) -> None

Copies the bytes of source to the memory behind a data pointer.";
