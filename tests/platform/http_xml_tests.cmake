# The request object and the reply document of the Linux platform.
marlgate_add_test(http_request_test ${CMAKE_CURRENT_LIST_DIR}/http_request_test.cc
  LIBS marlgate_platform PkgConfig::HTTPLIB)
marlgate_add_test(xml_document_test ${CMAKE_CURRENT_LIST_DIR}/xml_document_test.cc
  LIBS marlgate_platform)
