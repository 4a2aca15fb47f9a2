// SPDX-License-Identifier: MIT
// LIST dialects beyond Unix and DOS, each as its servers' documentation and
// peers' published test data show it. Every parser says NotMine for a line
// of another dialect, so the chain can try them in turn.
//
//   EPLF:      +i8388621.48594,m825718503,r,s280,<TAB>djb.html
//   VMS:       DATA.DIR;1   1/3   16-NOV-2001 21:27:51  [GROUP,OWNER]  (RWED,RWED,RWED,RE)
//              (a long name on a line of its own, the rest on the next)
//   IBM i:     QPGMR   135168 04/03/18 13:18:19 *STMF   megaidx.txt
//   z/OS:      SAVE00 3390   2004/06/23  1    1  FB     128  6144  PS  INCOMING.RPTBM024
//              TBSHELF   01.03 2002/09/12 2002/10/11 09:37    11    11     0 KIL001
//   NetWare:   d [R----F--] supervisor            512       Jan 16 18:53    login
//   OS/2:      36611                05-12-97   16:44  PERSON.PDF
//   Tandem:    ALTERB          0            6526  23-Mar-2011 13:37:29 255,255 NNNN
#pragma once

#include <cstdint>
#include <string_view>

#include "posix/wire/listing_parser.h"

namespace quorvane::client {

LineResult parseEplfLine(std::string_view line, ListingEntry& entry);
LineResult parseVmsLine(std::string_view line, ListingEntry& entry);
// Whether a VMS line holds only a name, its details on the next line.
bool isVmsNameAlone(std::string_view line);
LineResult parseOs400Line(std::string_view line, ListingEntry& entry);
LineResult parseMvsLine(std::string_view line, ListingEntry& entry);
LineResult parseNetwareLine(std::string_view line, const ServerClock& now, ListingEntry& entry);
LineResult parseOs2Line(std::string_view line, ListingEntry& entry);
LineResult parseTandemLine(std::string_view line, ListingEntry& entry);

}  // namespace quorvane::client
