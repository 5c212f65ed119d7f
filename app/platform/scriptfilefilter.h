// What the post-process script's file dialog offers: the one place where the
// Windows and Linux builds differ in the choice of a script.
#pragma once

#include <QString>

namespace scriptFile {

QString dialogFilter();

} // namespace scriptFile
