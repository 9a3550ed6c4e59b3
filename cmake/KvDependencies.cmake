# Every library of the stack is found here, once, and exposed as an imported target.
set(CMAKE_AUTOMOC ON)
# Qt resource files (.qrc) listed among a library's sources are compiled into it.
set(CMAKE_AUTORCC ON)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network Test)
find_package(GDAL CONFIG REQUIRED)
# highgui is never linked: it would load Qt 5 into our Qt 6 process.
find_package(OpenCV REQUIRED COMPONENTS core imgproc imgcodecs stitching)
find_package(VTK REQUIRED COMPONENTS CommonCore CommonDataModel CommonTransforms FiltersCore
             FiltersGeneral IOXML)
find_package(GEOS CONFIG REQUIRED)
find_package(Eigen3 REQUIRED NO_MODULE)
find_package(CGAL REQUIRED)
find_package(muparser CONFIG REQUIRED)
find_package(GTest REQUIRED)

find_path(HPDF_INCLUDE_DIR hpdf.h REQUIRED)
find_library(HPDF_LIBRARY hpdf REQUIRED)
add_library(kv::hpdf UNKNOWN IMPORTED)
set_target_properties(kv::hpdf PROPERTIES IMPORTED_LOCATION ${HPDF_LIBRARY}
                      INTERFACE_INCLUDE_DIRECTORIES ${HPDF_INCLUDE_DIR})

find_path(SAGA_INCLUDE_DIR saga_api/saga_api.h PATH_SUFFIXES saga REQUIRED)
find_library(SAGA_API_LIBRARY saga_api REQUIRED)
add_library(kv::saga UNKNOWN IMPORTED)
set_target_properties(kv::saga PROPERTIES IMPORTED_LOCATION ${SAGA_API_LIBRARY}
                      INTERFACE_INCLUDE_DIRECTORIES ${SAGA_INCLUDE_DIR}
                      INTERFACE_COMPILE_DEFINITIONS "_TYPEDEF_BYTE;_TYPEDEF_WORD")
get_filename_component(SAGA_API_LIBDIR ${SAGA_API_LIBRARY} DIRECTORY)
set(KV_SAGA_TOOLS_DIR "${SAGA_API_LIBDIR}/saga" CACHE PATH "Folder of SAGA's tool libraries")
# Whoever links SAGA learns where its tool libraries are.
set_property(TARGET kv::saga APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS
             KV_SAGA_TOOLS_DIR="${KV_SAGA_TOOLS_DIR}")

find_package(Threads REQUIRED)
find_package(OpenMP)
