# Every text the Qt-free layers hand to the message catalogue has its translation: xgettext lists
# the texts of the sources, and msgcmp names any the catalogue lacks or leaves untranslated.
# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DXGETTEXT=... -DMSGCMP=... -P CatalogueComplete.cmake
file(GLOB sources RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/programmer/*.cpp ${SOURCE_DIR}/cli/*.cpp ${SOURCE_DIR}/cli/station/*.cpp ${SOURCE_DIR}/hex/*.cpp)
set(template ${WORK_DIR}/quillet.pot)
execute_process(
  COMMAND ${XGETTEXT} --language=C++ --from-code=UTF-8 --keyword=Translate --keyword=Say --keyword=LookedUp:2 --output=${template} ${sources}
  WORKING_DIRECTORY ${SOURCE_DIR}
  RESULT_VARIABLE extracted)
if(NOT extracted EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()
foreach(language zh_CN)
  execute_process(COMMAND ${MSGCMP} ${SOURCE_DIR}/programmer/po/${language}.po ${template} RESULT_VARIABLE compared)
  if(NOT compared EQUAL 0)
    message(FATAL_ERROR "programmer/po/${language}.po lacks texts of the sources (above)")
  endif()
endforeach()
