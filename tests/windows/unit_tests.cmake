# The unit tests that need no server on the Linux side, one program per folder as in the
# Linux build. A file that cannot run here is left out below with the reason.
set(tests_root ${PROJECT_SOURCE_DIR}/tests)
set(windows_unit_areas codec model server platform socket smtp pop3)

set(windows_left_out
  # They drive Dovecot, Postfix or Python checkers on the Linux side.
  pop3/dovecot_test.cpp pop3/dovecot_tls_test.cpp pop3/dovecot_tls_fault_test.cpp
  pop3/dovecot_mime_test.cpp pop3/dovecot_international_test.cpp
  smtp/delivery_test.cpp smtp/tls_delivery_test.cpp smtp/international_text_test.cpp smtp/capture_test.cpp
  codec/crosscheck_test.cpp
  # The peer plays a TLS server with OpenSSL, and this build has no TLS engine yet.
  platform/tls_engine_test.cpp socket/tls_socket_test.cpp smtp/tls_session_test.cpp
  pop3/secure_login_test.cpp
  # The POSIX services and names; the Windows ones are checked by platform_checks.
  platform/files_test.cpp socket/libc_names_test.cpp
  # The Linux loop's descriptor and the Linux stand-in's files; the Windows loop is
  # checked by platform_checks and socket_smoke.
  platform/message_loop_test.cpp socket/layer_test.cpp
  # Raw POSIX socket calls in the test itself (recvfrom, shutdown, socketpair, close).
  socket/server_test.cpp socket/client_test.cpp
  # The zone cases set TZ, which the Windows clock does not read.
  codec/wordfunc_test.cpp
  # Registration on Linux goes to XDG_DATA_HOME; on Windows it is the registry's.
  server/registration_test.cpp
  # The portable entry points of the library; the Windows DLL exports the system's own
  # (automation_client checks those).
  server/library_table_abi_test.cpp
)

foreach(area IN LISTS windows_unit_areas)
  file(GLOB sources CONFIGURE_DEPENDS ${tests_root}/${area}/*.cpp)
  foreach(file IN LISTS windows_left_out)
    list(REMOVE_ITEM sources ${tests_root}/${file})
  endforeach()
  if(NOT sources)
    continue()
  endif()
  add_executable(test_${area} ${sources})
  target_link_libraries(test_${area} PRIVATE tolmail_internal gtest gtest_main)
  target_include_directories(test_${area} PRIVATE ${tests_root})
  target_compile_definitions(test_${area} PRIVATE TOLMAIL_TESTS_DIR="${tests_root}")
  # One Wine start per program: a start per test case would cost more than the tests.
  add_test(NAME ${area} COMMAND test_${area} --gtest_brief=1)
  set_tests_properties(${area} PROPERTIES TIMEOUT 300)
  list(APPEND windows_unit_programs test_${area})
endforeach()
# For scripts/windows/build.sh, which builds only what runs here.
add_custom_target(windows_unit_tests DEPENDS ${windows_unit_programs})
