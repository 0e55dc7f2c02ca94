// Service definition for the gSOAP echo peer used by bench/server/run.sh.
// soapcpp2 turns this into the (de)serialisers, the dispatcher and the client stub.
//gsoap ns service name:      echo
//gsoap ns service namespace: urn:skarn-bench-echo
//gsoap ns service style:     rpc
//gsoap ns service encoding:  literal
//gsoap ns service location:  http://127.0.0.1:8080/

// Answers with the string it was given.
int ns__echoString(std::string in, std::string &out);
