#include "commonsyms.h"

t_common_symbols_table *_common_symbols = nullptr;

void common_symbols_init(void) { _common_symbols = common_symbols_gettable(); }
