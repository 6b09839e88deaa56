#include "about_dialog.h"

#include <osg/Version>

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    // Registered here as well as in the application so the box shows its icon wherever it runs.
    Q_INIT_RESOURCE(brindle);
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(tr("关于 Brindle"));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(QIcon(QStringLiteral(":/brindle/brindle.png")).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);

    auto* name = new QLabel(tr("Brindle，%1 版").arg(QStringLiteral(BRINDLE_VERSION_SHORT)), this);
    name->setObjectName(QStringLiteral("aboutName"));
    auto* library = new QLabel(
        QStringLiteral("OpenSceneGraph %1").arg(QString::fromLatin1(osgGetVersion())), this);
    library->setObjectName(QStringLiteral("aboutLibrary"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(tr("确定"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(library);
    text->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // The box is as small as its text allows; keep it wide enough for the whole title.
    layout->addStrut(std::max(320, fontMetrics().horizontalAdvance(windowTitle()) + 200));
    ok->setFocus();
}
