# cmake -DNM=<nm> -DLIBRARY=<shared library> -DCLASSES=<class,class...> -P exportedsymbols.cmake
# Fails unless every symbol that the library defines in its dynamic symbol
# table belongs to one of the classes (its members, static data, virtual table,
# type information or thunks), and each class has at least one.
cmake_minimum_required(VERSION 3.16)
execute_process(COMMAND ${NM} -D --defined-only --demangle ${LIBRARY}
    OUTPUT_VARIABLE table ERROR_VARIABLE error RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${error}")
endif()

# Brackets (as in [abi:cxx11]) would hold list items together.
string(REPLACE "[" "<" table "${table}")
string(REPLACE "]" ">" table "${table}")
string(REGEX MATCHALL "[^\n]+" lines "${table}")
string(REPLACE "," ";" classes "${CLASSES}")

set(ownPrefix "((typeinfo name|typeinfo|vtable|VTT) for |(non-)?virtual thunk to )?")
set(strays "")
set(found "")
foreach(line IN LISTS lines)
    # "<address> <type> <name>"
    string(REGEX REPLACE "^[0-9a-fA-F]+ [A-Za-z] " "" name "${line}")
    # What the linker defines in every shared object.
    if(name MATCHES "^(__bss_start|_edata|_end|_init|_fini)$")
        continue()
    endif()
    set(owner "")
    foreach(class IN LISTS classes)
        if(name MATCHES "^${ownPrefix}${class}(::|$)")
            set(owner ${class})
        endif()
    endforeach()
    if(owner)
        list(APPEND found ${owner})
    else()
        string(APPEND strays "\n  ${name}")
    endif()
endforeach()

if(strays)
    message(FATAL_ERROR "${LIBRARY} exports symbols of no exported class:${strays}")
endif()
foreach(class IN LISTS classes)
    if(NOT class IN_LIST found)
        message(FATAL_ERROR "${LIBRARY} exports nothing of ${class}")
    endif()
endforeach()
list(LENGTH found count)
message(STATUS "${LIBRARY}: ${count} symbols, all of ${CLASSES}")
