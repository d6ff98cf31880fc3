# The recogniser's language data, lean: the installed Latin script model keeps its network,
# character set, recoder, punctuation and number patterns and version, and its 89 MB word list
# is cut down to the words that look like a part of a name (cmake/name_words.py). The engine
# reads the whole file into memory at start-up and builds the decoder's dictionary from the
# list, so the packaged model costs seconds and a few hundred MiB before the first answer.
#
# Derived at build time into <build>/share/meeting-sidecars/tessdata and installed to
# <prefix>/share/meeting-sidecars/tessdata: in both places ../share/... from the program, which
# is where tessival looks for it (falling back to the packaged model, with one log line).
include(GNUInstallDirs)
find_program(COMBINE_TESSDATA combine_tessdata REQUIRED)
find_program(DAWG2WORDLIST dawg2wordlist REQUIRED)
find_program(WORDLIST2DAWG wordlist2dawg REQUIRED)
find_file(SIDECARS_LATIN_MODEL Latin.traineddata
          PATHS /usr/share/tesseract-ocr/5/tessdata /usr/share/tesseract-ocr/4.00/tessdata
                /usr/share/tessdata /usr/local/share/tessdata
          NO_DEFAULT_PATH REQUIRED
          DOC "Tesseract's Latin script model (package tesseract-ocr-script-latn)")

set(SIDECARS_MODEL_SUBDIR ${CMAKE_INSTALL_DATADIR}/meeting-sidecars/tessdata)
set(lean_model ${PROJECT_BINARY_DIR}/share/meeting-sidecars/tessdata/Latin.traineddata)
set(lean_work ${PROJECT_BINARY_DIR}/lean-model)
set(lean_parts)
foreach(part lstm lstm-unicharset lstm-recoder lstm-punc-dawg lstm-number-dawg version)
  list(APPEND lean_parts ${lean_work}/Latin.${part})
endforeach()
set(word_filter ${CMAKE_CURRENT_LIST_DIR}/name_words.py)
get_filename_component(lean_dir ${lean_model} DIRECTORY)
# Without the word list the model is 0.6 MB and the engine starts in half the time at 40 MiB less,
# but reads fewer names (8 in 100 of the generated scenes) and is less sure of the rest.
option(SIDECARS_OCR_WORD_LIST "Keep the name-like part of the OCR model's word list" ON)
set(word_list_steps)
if(SIDECARS_OCR_WORD_LIST)
  set(word_list_steps
      COMMAND ${COMBINE_TESSDATA} -e ${SIDECARS_LATIN_MODEL} ${lean_work}/all/Latin.lstm-word-dawg
      COMMAND ${DAWG2WORDLIST} ${lean_work}/Latin.lstm-unicharset ${lean_work}/all/Latin.lstm-word-dawg
              ${lean_work}/all/words.txt
      COMMAND /usr/bin/python3 ${word_filter} ${lean_work}/all/words.txt ${lean_work}/all/kept.txt
      COMMAND ${WORDLIST2DAWG} ${lean_work}/all/kept.txt ${lean_work}/Latin.lstm-word-dawg
              ${lean_work}/Latin.lstm-unicharset)
endif()
# Rewritten only when the choice changes, so that the model is derived again then and only then.
set(word_list_choice ${PROJECT_BINARY_DIR}/lean-model-word-list.txt)
file(CONFIGURE OUTPUT ${word_list_choice} CONTENT "${SIDECARS_OCR_WORD_LIST}\n")
# combine_tessdata reports success even when it wrote nothing: the final copy fails instead.
add_custom_command(
  OUTPUT ${lean_model}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${lean_work}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${lean_work}/all ${lean_dir}
  COMMAND ${COMBINE_TESSDATA} -e ${SIDECARS_LATIN_MODEL} ${lean_parts}
  ${word_list_steps}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${lean_work}/all
  COMMAND ${COMBINE_TESSDATA} ${lean_work}/Latin.
  COMMAND ${CMAKE_COMMAND} -E copy ${lean_work}/Latin.traineddata ${lean_model}
  DEPENDS ${SIDECARS_LATIN_MODEL} ${word_filter} ${word_list_choice}
  COMMENT "Deriving the lean OCR model from ${SIDECARS_LATIN_MODEL}"
  VERBATIM)
add_custom_target(lean_ocr_model ALL DEPENDS ${lean_model})
add_dependencies(tessival lean_ocr_model)
install(FILES ${lean_model} DESTINATION ${SIDECARS_MODEL_SUBDIR})
