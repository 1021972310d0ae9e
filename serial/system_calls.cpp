#include "serial/system_calls.h"

#include <dirent.h>
#include <unistd.h>

SystemCalls Sys = {::read, ::write, ::poll, ::getdents64};
