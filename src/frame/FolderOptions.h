#pragma once

#include <QString>

#include <array>

// The folder option buttons Option3 (Inbox), Option5 (Drafts), Option6 (Sent), Option7 (Junk)
// and Option9 (Deleted), addressed by their number.
class FolderOptions {
public:
    struct Folder {
        int option;
        const char* name;
    };
    static constexpr std::array<Folder, 5> folders{
        {{3, "Inbox"}, {5, "Drafts"}, {6, "Sent"}, {7, "Junk"}, {9, "Deleted"}}};

    virtual ~FolderOptions() = default;
    virtual bool option(int number) const = 0;
    // Clearing the selected option leaves no option selected.
    virtual void setOption(int number, bool selected) = 0;
};
