# The Windows build of the test suite: test sources that cannot run there,
# each with its reason. In place of each, a generated test that reports
# itself skipped with that reason.
# The layers whose test programs build for Windows so far.
set(TARVEX_WINDOWS_TEST_LAYERS core data comm ftp gfx gui input sound)

set(TARVEX_WINDOWS_SKIPS
  comm/comm_link_test.cpp "drives the transfer step over socketpair(AF_UNIX) and POSIX read/write"
  comm/comm_process_test.cpp "its peers run in forked processes"
  comm/commnode_process_test.cpp "its hubs and nodes run in forked processes"
  comm/commnode_redis_process_test.cpp "its hubs, clients and redis-server run in forked processes"
  comm/proxy_test.cpp "its relay peers run in forked processes, with POSIX resource limits"
  comm/proxy_scale_test.cpp "raises the POSIX descriptor limit for thousands of sockets"
  comm/haproxy_test.cpp "starts haproxy by fork and exec, and its echo destination runs in a forked process"
  comm/socket_test.cpp "checks the errno mapping and drives raw BSD sockets (fcntl, poll), winsock_peer_test covers Winsock"
  comm/tls_test.cpp "starts openssl s_server and s_client by fork and exec, winsock_peer_test covers Winsock"
  comm/flood_test.cpp "its flooding peers and relays run in forked processes"
  comm/stall_test.cpp "its silent and slow clients and the relay run in forked processes"
  comm/netem_test.cpp "builds a Linux network namespace with veth and tc netem"
  ftp/ftp_client_test.cpp "its FTP servers (pyftpdlib, vsftpd) are Linux programs started by fork and exec"
  ftp/ftp_server_test.cpp "its FTP servers (pyftpdlib, vsftpd) are Linux programs started by fork and exec"
  ftp/ftp_fault_test.cpp "its scripted fault server is a Linux Python program started by fork and exec"
  ftp/ftp_badlink_test.cpp "runs vsftpd inside a Linux network namespace with tc"
  gfx/xvfb_screen_test.cpp "runs itself again under xvfb-run and reads the X screen with xwd and xdotool"
  gfx/xvfb_fullscreen_test.cpp "runs itself again under xvfb-run and reads the X screen with xwd"
  gui/x11_controls_test.cpp "runs itself again under xvfb-run and drives the X server with xdotool"
  gui/x11_dialog_test.cpp "runs itself again under xvfb-run and drives the X server with xdotool"
  gui/x11_gui_test.cpp "runs itself again under xvfb-run and drives the X server with xdotool"
  input/x11_test.cpp "runs itself again under xvfb-run and drives the X server with xdotool"
  sound/music_test.cpp "plays MIDI and XMIDI music: the Windows back end has no MIDI synthesiser"
  sound/xmidi_test.cpp "plays XMIDI pieces and DLS banks: the Windows back end has no MIDI synthesiser"
)

# Drops the skipped sources of one layer from srcs and adds the generated
# file of skipped tests.
function(tarvex_windows_sources layer srcs_var)
  set(srcs ${${srcs_var}})
  set(body "// Generated: test files of this layer that do not run on Windows.\n#include <gtest/gtest.h>\n")
  set(list ${TARVEX_WINDOWS_SKIPS})
  while(list)
    list(POP_FRONT list file reason)
    if(file MATCHES "^${layer}/")
      list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${file})
      get_filename_component(name ${file} NAME_WE)
      string(APPEND body "TEST(WindowsSkipped, ${name}) { GTEST_SKIP() << \"${reason}\"; }\n")
    endif()
  endwhile()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${layer}_windows_skips.cpp)
  file(CONFIGURE OUTPUT ${out} CONTENT "${body}")
  list(APPEND srcs ${out})
  set(${srcs_var} ${srcs} PARENT_SCOPE)
endfunction()
