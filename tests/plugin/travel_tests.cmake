# The tests of the lookups, the reply handling and the sharing to chat.
# Included by tests/plugin/CMakeLists.txt.
foreach(test travel_lookup_test reply_handling_test chat_sharing_test)
  marlgate_add_test(${test} ${CMAKE_CURRENT_LIST_DIR}/${test}.cc
                    LIBS marlgate_travels_core marlgate_fakes)
  target_compile_definitions(${test} PRIVATE
    MARLGATE_VIEW_FILE="${CMAKE_SOURCE_DIR}/view/Marlgate_Travels.xml")
endforeach()
