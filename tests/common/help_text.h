// SPDX-License-Identifier: MIT
// The help block, byte for byte, as the viewer must write it.
#ifndef QUENDAL_HELP_TEXT_H
#define QUENDAL_HELP_TEXT_H

constexpr char kHelpText[] = "\n Morvo \t\t\t\t\t\tCurso 2000-2001"
                             "\n Dpto. Talvenor"
                             "\n Brisquel\t\tUniv. de Varnesca "
                             "\n Quendal"
                             "\n"
                             "\n Escape: Salir"
                             "\n\n\n";

#endif
