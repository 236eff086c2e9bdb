# Sets MONODRV_PYTHON_DIR, relative to CMAKE_INSTALL_PREFIX, to the folder where the
# system's Python 3 finds modules installed under that prefix: Debian's Python looks in
# /usr/lib/python3/dist-packages for the system and in PREFIX/lib/python3.X/dist-packages
# for /usr/local. Runs at install time, when the prefix is known.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(MONODRV_PYTHON_DIR lib/python3/dist-packages)
else()
  execute_process(COMMAND python3 -c "import sys; print('%d.%d' % sys.version_info[:2])"
    OUTPUT_VARIABLE python_version OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR python_version STREQUAL "")
    set(MONODRV_PYTHON_DIR lib/python3/dist-packages)
  else()
    set(MONODRV_PYTHON_DIR lib/python${python_version}/dist-packages)
  endif()
endif()
