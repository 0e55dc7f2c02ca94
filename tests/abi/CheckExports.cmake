# Exported: what hosts call or catch. Hidden: the internal helpers.
execute_process(COMMAND nm -D -C --defined-only ${LIB} OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
set(must
  "SkarnProcessInitialize" "SkarnProcessTerminate" "SkarnCoreProcessInitialize" "SkarnCoreProcessTerminate"
  "typeinfo for SkarnException" "SkarnException::hurl" "SkarnMessage::SkarnMessage"
  "typeinfo for VexThrowable" "typeinfo for VexAssertError" "typeinfo for QioIOTimeoutException"
  "typeinfo for QioIOCancelException" "QioBufferedInputStream::readline" "vtable for Skarn\n"
  "Skarn::getSession" "SkarnSession::doRequest" "SkarnServerSession::respond"
  "typeinfo for SkarnSocket\n" "typeinfo for SkarnSocketInputStream" "SkarnHost::getInternetMachineName"
  "SkarnHost::getIPAddress"
  "SkrHTTPParser::SkrHTTPParser()" "SkrHTTPParser::~SkrHTTPParser()" "SkrHTTPParser::parseRequest"
  "SkrHTTPParser::parseResponse" "SkrHTTPParser::parseBodyPart" "SkrHTTPParser::getHeader"
  "SkrHTTPParser::processHeader(" "SkrHTTPParser::processHeaders" "SkrHTTPParser::setHeader"
  "SkrHTTPParser::validateRequestLine" "SkrHTTPParser::validateResponseLine" "SkrHTTPParser::isMultipart"
  "SkrHTTPParser::isChunked" "SkrHTTPParser::getContentLength" "SkrHTTPParser::getContentID"
  "SkrHTTPParser::getContentType" "SkrHTTPParser::getMultipartDelimiter" "SkrHTTPParser::getHeaders"
  "SkrMessageReader::SkrMessageReader" "SkrMessageReader::getEnvelope" "typeinfo for VexIDOM_DOMException"
  "VexIDOM_Parser::parse" "VexIDOM_Helper::write" "typeinfo for DomWriter" "XmlUrl::XmlUrl"
  "typeinfo for SkarnServerSocket" "SkarnServerSocket::getServerSocket(int" "SkarnServerSocket::getServerSocket(char*"
  "typeinfo for SkarnConnectionPool" "SkrConnectionPoolFactory::getInstance" "SkrConnectionPoolFactory::destroyInstance"
  "Skarn::getSessionFactory" "typeinfo for SkarnServerHandler" "SkarnServerRuntime::run"
  "SkarnServerRuntime::listen(SkarnServerSocket*)")
set(mustnot "VexMessageCatalog" "CryptoError::describe" "QsmSocket" "SkrSocketNonSSL" "BoundaryScanner"
  "SkrMPInputStream" "SkrQPInputStream" "VexStringTokenizer"
  "SkrMessageWriter" "SkrEnabledOutputStream" "HttpMsgNode" "OnePieceHttpMsg" "MultipartHttpMsg" "VexIDOM_Xerces"
  "SkrServerSocket" "SkrConnectionPool::" "SkrTheBus" "SkrSession" "SkrServerSession" "DOMAsciiString"
  "SkrServerRuntime" "SkrRequestHead")
foreach(s ${must})
  string(FIND "${syms}" "${s}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not exported: ${s}")
  endif()
endforeach()
foreach(s ${mustnot})
  string(FIND "${syms}" "${s}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "exported but internal: ${s}")
  endif()
endforeach()
message(STATUS "exports as expected")
