#include "app/highdpi.h"
#include "app/quaymend.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    useWholeScaleFactors();
    auto *app = new QApplication(argc, argv);
    auto *dialog = new Quaymend;
    dialog->show();
    const int result = app->exec();
    delete dialog;
    delete app;
    return result;
}
