# Version, installation and the Debian package of both programs.
#   cmake --install <build> [--prefix DIR]     installs the programs and the documentation
#   cpack --config <build>/CPackConfig.cmake   builds meeting-sidecars_<version>_<arch>.deb
foreach(program tessival sondrel)
  target_compile_definitions(${program} PRIVATE SIDECARS_VERSION="${PROJECT_VERSION}")
endforeach()

include(GNUInstallDirs)
install(TARGETS tessival sondrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(SIDECARS_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/meeting-sidecars)
install(FILES README.md docs/protocol.md docs/analyze.md DESTINATION ${SIDECARS_DOC_DIR})
install(PROGRAMS examples/parent.py DESTINATION ${SIDECARS_DOC_DIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME meeting-sidecars)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Meeting sidecars developers <sidecars@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "sidecar programs that read meeting windows and capture system audio")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tessival finds the meeting window on the X server, reads participant names, the\n\
 active speaker and slide text with Tesseract and answers in JSON lines; sondrel streams\n\
 the computer's audio from PulseAudio or PipeWire as mono 32-bit floats.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The OCR needs Tesseract's Latin script model at run time; shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tesseract-ocr-script-latn")
# The labels of `tessival --annotate` pictures.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
