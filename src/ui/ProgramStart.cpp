#include "ui/ProgramStart.h"

#include "ui/Form1.h"

std::unique_ptr<Form1> ProgramStart::mainWindow(const Services& services, std::function<void()> unload)
{
    auto window = std::make_unique<Form1>(services);
    if (unload)
        window->Form_Unload = std::move(unload);
    window->Form_Load();
    return window;
}
