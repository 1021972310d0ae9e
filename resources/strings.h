// The program's string table.
#pragma once

#include <QString>

// The string with number `id`, or an empty string when there is none.
QString LoadStringResource(int id);
