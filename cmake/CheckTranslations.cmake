# Fails when a translation file holds an entry nobody translated yet.
# cmake -DTS=file.ts -P CheckTranslations.cmake
file(READ "${TS}" content)
string(REGEX MATCHALL "<translation type=\"unfinished\"" unfinished "${content}")
list(LENGTH unfinished count)
if(count GREATER 0)
  message(FATAL_ERROR "${TS}: ${count} unfinished translations; translate them (Qt Linguist, or edit the file) and drop type=\"unfinished\"")
endif()
