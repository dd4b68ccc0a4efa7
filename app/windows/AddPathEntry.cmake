# Adds to a package that wixl built what wixl cannot write: the PATH part of
# the feature CommandLineOnPath, appended to the system's PATH on install and
# taken out on uninstall, and the two standard actions that carry it out.
# Usage: cmake -DMSIBUILD=<msibuild> -DMSI=<package> -P AddPathEntry.cmake
foreach(query
    "CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)"
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)")
  execute_process(COMMAND ${MSIBUILD} ${MSI} -q "${query}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "msibuild: ${query}")
  endif()
endforeach()
# The value holds a semicolon, which a list above would split: "[~];" appends.
execute_process(COMMAND ${MSIBUILD} ${MSI} -q "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('PathEntry', '=-*PATH', '[~];[INSTALLDIR]', 'PathEntry')"
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "msibuild: the PATH entry")
endif()
