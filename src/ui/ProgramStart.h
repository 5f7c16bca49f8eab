#pragma once

#include "frame/Services.h"
#include "frame/TimeZoneLookup.h"

#include <QString>

#include <functional>
#include <memory>

class Form1;

// How Corvanel starts, written once: the program (main.cpp), the window tests and the
// benchmarks begin the same way.
namespace ProgramStart {

// Pins the time-zone lookup when it is made: a base made before the application object.
struct PinnedTimeZone {
    PinnedTimeZone() { pinTimeZoneLookup(); }
};

// The application object as Corvanel makes it: the time-zone lookup pinned before anything
// converts a local time, then the application (QApplication, or QCoreApplication for a program
// without windows) with the program's names, which name the folder of the settings file.
//
//     ProgramStart::Application<QApplication> app(argc, argv);
template <class App> class Application : private PinnedTimeZone, public App {
public:
    Application(int& argc, char** argv)
        : App(argc, argv)
    {
        App::setApplicationName(QStringLiteral("Corvanel"));
        App::setOrganizationName(QStringLiteral("Wenlowe"));
    }
};

// The main window over `services`, loaded as at start. `unload`, when given, replaces what the
// window does when it is closed (end the process): tests keep their process.
std::unique_ptr<Form1> mainWindow(const Services& services, std::function<void()> unload = {});

} // namespace ProgramStart
