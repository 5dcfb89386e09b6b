# Writes the pkg-config file boolconv.pc while installing. The file names the
# prefix the libraries go to, and `cmake --install --prefix` chooses that
# only at install time. The Debian packages are installed with prefix /usr
# into a DESTDIR, which the file does not name.

# Sets `out_var` to the way boolconv.pc writes the install folder `dir`
# (relative to `prefix`, or absolute). A folder within the prefix is written
# as "${prefix}/<rest>", and any other folder as its absolute path. `prefix`
# must be absolute and normalized. The root prefix is not used as
# ${prefix}: "${prefix}/lib" would then read "//lib". Spaces are escaped
# with backslashes, as pkg-config expects.
function(boolconv_pc_path dir prefix out_var)
  if(NOT IS_ABSOLUTE "${dir}")
    set(dir "${prefix}/${dir}")
  endif()
  cmake_path(NORMAL_PATH dir)
  string(REGEX REPLACE "(.)/+$" "\\1" dir "${dir}")
  # IS_PREFIX compares whole path elements: /opt/bc2 is not within /opt/bc.
  cmake_path(IS_PREFIX prefix "${dir}" within)
  if(within AND NOT prefix STREQUAL "/")
    cmake_path(RELATIVE_PATH dir BASE_DIRECTORY "${prefix}" OUTPUT_VARIABLE rest)
    if(rest STREQUAL ".")
      set(dir "\${prefix}")
    else()
      set(dir "\${prefix}/${rest}")
    endif()
  endif()
  string(REPLACE " " "\\ " dir "${dir}")
  set(${out_var} "${dir}" PARENT_SCOPE)
endfunction()

# Writes boolconv.pc from `template` for an install under `prefix`, with the
# libraries in `libdir` and the headers in include/boolconv. `prefix` is
# taken as cmake --install has it, and may be relative to the current
# folder. The file goes into a subfolder of `staging` that belongs to the
# prefix, because installs of one build tree to different prefixes may run
# at the same time. Sets `file_var` to the file written and `dest_var` to
# the absolute folder where it is installed.
function(boolconv_write_pc template staging prefix libdir version description file_var dest_var)
  # In an install script, relative paths start from the current folder,
  # which is CMAKE_CURRENT_SOURCE_DIR there (and in cmake -P).
  cmake_path(ABSOLUTE_PATH prefix NORMALIZE)
  string(REGEX REPLACE "(.)/+$" "\\1" prefix "${prefix}")
  boolconv_pc_path("${libdir}" "${prefix}" pc_libdir)
  boolconv_pc_path(include "${prefix}" pc_includedir)
  string(REPLACE " " "\\ " pc_prefix "${prefix}")
  set(pc_version "${version}")
  set(pc_description "${description}")

  string(MD5 key "${prefix}")
  set(file "${staging}/${key}/boolconv.pc")
  configure_file("${template}" "${file}" @ONLY)

  if(IS_ABSOLUTE "${libdir}")
    set(dest "${libdir}/pkgconfig")
  else()
    set(dest "${prefix}/${libdir}/pkgconfig")
  endif()
  set(${file_var} "${file}" PARENT_SCOPE)
  set(${dest_var} "${dest}" PARENT_SCOPE)
endfunction()
