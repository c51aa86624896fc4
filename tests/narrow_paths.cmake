# Paths must not pass through narrow strings in the local code page: on Windows std::filesystem::path::string()
# and a path made from QString::toStdString() both do, so a data folder with Chinese characters would break.
# Paths cross narrow interfaces as UTF-8 (PathToUtf8, PathFromUtf8) and come from Qt as UTF-16
# (PathFromQString). Usage: cmake -DSRC=<src folder> -P narrow_paths.cmake
file(GLOB_RECURSE sources "${SRC}/*.cpp" "${SRC}/*.h")
set(found "")
foreach(source IN LISTS sources)
    file(STRINGS "${source}" lines)
    set(number 0)
    foreach(line IN LISTS lines)
        math(EXPR number "${number} + 1")
        if(line MATCHES "\\.string\\(\\)|[Pp]ath\\(\\)\\.toStdString\\(\\)|DirPath\\(\\)\\.toStdString\\(\\)")
            string(APPEND found "\n  ${source}:${number}: ${line}")
        endif()
    endforeach()
endforeach()
if(found)
    message(FATAL_ERROR "A path passes through a narrow string in the local code page:${found}")
endif()
