// monodrv-tango: a Tango Controls device server hosting spectrographs through the Monodrv
// driver, one instrument per device of class Spectrograph. The server owns each port for
// its life, so that any number of clients on any machine share the instrument.
//
//   monodrv-tango INSTANCE                        (devices and properties from TANGO_HOST)
//   monodrv-tango INSTANCE -file=FILE -ORBendPoint giop:tcp:HOST:PORT
#include <tango.h>

#include <cstring>
#include <iostream>

#include "monodrv/tango/spectrograph_device.h"
#include "project_version.h"

void Tango::DServer::class_factory() {
    add_class(monodrv::server::SpectrographClass::Init("Spectrograph"));
}

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "monodrv-tango " << PROJECT_VERSION_TEXT << "\n"
                      << PROJECT_LICENCE_TEXT << "\n";
            return 0;
        }
    try {
        Tango::Util* util = Tango::Util::init(argc, argv);
        util->server_init(false);
        std::cout << "Ready to accept request" << std::endl;
        util->server_run();
    } catch (const std::bad_alloc&) {
        std::cerr << "monodrv-tango: out of memory\n";
        return 1;
    } catch (const CORBA::Exception& e) {
        Tango::Except::print_exception(e);
        return 1;
    }
    Tango::Util::instance()->server_cleanup();
    return 0;
}
