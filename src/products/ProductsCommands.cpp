#include "products/ProductsCommands.h"

#include "document/UserCommands.h"

void RegisterProductsCommands(CommandRegistry& /*registry*/) {
    // No procedure of the orthophoto product and agricultural map tools is handed in yet: their commands say
    // so when started.
}
