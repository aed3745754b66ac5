# Fails when the launcher executable depends, directly or not, on GTK, GDK or GLib.
execute_process(COMMAND ldd ${LAUNCHER} RESULT_VARIABLE status OUTPUT_VARIABLE libraries ERROR_VARIABLE errors
  TIMEOUT 30)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd ${LAUNCHER} failed: ${errors}")
endif()
if(NOT libraries MATCHES "libc\\.so")
  message(FATAL_ERROR "ldd listed no C library:\n${libraries}")
endif()
if(libraries MATCHES "lib(gtk|gdk|glib|gobject|pango|cairo)")
  message(FATAL_ERROR "the launcher links the toolkit:\n${libraries}")
endif()
