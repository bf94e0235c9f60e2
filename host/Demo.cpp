#include "Demo.h"

namespace KrvnHost {

int runDemo(const DemoOptions& /*options*/, std::ostream& out) {
    out << "demo: not built yet\n";
    return 1;
}

}  // namespace KrvnHost
