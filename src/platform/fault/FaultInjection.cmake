# The fault-injection build (QUARO7_FAULT_INJECTION): the platform
# operations the driver makes go through the wrappers in this directory,
# which fail the call the environment names (fault_points.h). The system's
# own operations are compiled under the names real_calls.h declares; the
# rest of the driver is compiled as always.
if(WIN32)
  message(FATAL_ERROR "QUARO7_FAULT_INJECTION is a Linux test build")
endif()

set(_fault_dir ${CMAKE_CURRENT_LIST_DIR})
set(_posix ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/posix)

# The factory of the terminal device is the wrappers' own.
list(REMOVE_ITEM QUARO7_CORE_SOURCES ${_posix}/serial_device_factory_posix.cpp)
file(GLOB _fault_sources CONFIGURE_DEPENDS ${_fault_dir}/*.cpp)
list(APPEND QUARO7_CORE_SOURCES ${_fault_sources})

set_source_files_properties(${_posix}/file_ops.cpp PROPERTIES COMPILE_DEFINITIONS
  "ProbeFile=OsProbeFile;ClearReadOnly=OsClearReadOnly;ReadFileBytes=OsReadFileBytes;WriteNewFile=OsWriteNewFile;TemporaryFileBeside=OsTemporaryFileBeside;ReplaceWithTemporaryFile=OsReplaceWithTemporaryFile;PlaceTemporaryFile=OsPlaceTemporaryFile;RemoveStaleTemporaries=OsRemoveStaleTemporaries;LockFile=OsLockFile;UnlockFile=OsUnlockFile;RemoveFile=OsRemoveFile")
set_source_files_properties(${_posix}/log_file_posix.cpp PROPERTIES COMPILE_DEFINITIONS
  "AppendLogText=OsAppendLogText")
set_source_files_properties(${_posix}/worker_thread_posix.cpp PROPERTIES COMPILE_DEFINITIONS
  "StartPeriodicThread=OsStartPeriodicThread")
