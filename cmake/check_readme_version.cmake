# Fails unless the README names the package of the project's version.
#   cmake -DREADME=README.md -DVERSION=2.3.0 -P check_readme_version.cmake
file(READ "${README}" text)
string(FIND "${text}" "Horavel-${VERSION}-win32.zip" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${README} does not name dist/Horavel-${VERSION}-win32.zip: "
                      "the version in CMakeLists.txt and the README disagree")
endif()
