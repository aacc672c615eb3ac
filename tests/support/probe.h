#pragma once

#include "app/quaymend.h"

// The window tests' one door into the dialog: its form, the pages it draws, and the folder a run
// through the window takes its update files from.
struct QuaymendProbe
{
    static Ui::UpdateWizard &ui(Quaymend &d) { return d.ui; }
    // Draws a page as the flow names it.
    static void showPage(Quaymend &d, cUpdateFlow::Page page, const cUpdateFlow::PageFacts &facts = {})
    {
        d.onPage(page, facts);
    }

    struct Folder
    {
        Quaymend &dialog;
        void operator=(const QString &path) { dialog.flow().setUpdateSource(UpdateSource(path)); }
    };
    static Folder updateDirectory(Quaymend &d) { return { d }; }
    static QString logText(Quaymend &d) { return d.flow().copyLog(); }
};
