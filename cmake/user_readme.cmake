# SPDX-License-Identifier: MIT
# The README as the packages install it: without the parts that speak of
# this source tree (between "<!-- source tree -->" and "<!-- /source tree -->").
#   cmake -DSOURCE=README.md -DTARGET=out/README.md -P user_readme.cmake
file(READ ${SOURCE} text)
string(REGEX REPLACE "<!-- source tree -->[^<]*(<[^!][^<]*|<![^-][^<]*)*<!-- /source tree -->\n?" "" text "${text}")
string(FIND "${text}" "source tree -->" left)
if(NOT left EQUAL -1)
  message(FATAL_ERROR "${SOURCE}: a source-tree part is not closed")
endif()
file(WRITE ${TARGET} "${text}")
