#include "platform/qt/qt_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <utility>

#include "platform/qt/qt_tooltip_window.h"

// Resources of a static library are registered only when referenced.
static void InitVelmarisResources() {
    Q_INIT_RESOURCE(velmaris);
}

namespace velmaris::platform {

namespace {

constexpr int kTwipsPerInch = 1440;
constexpr int kClientWidth = 9090;
constexpr int kClientHeight = 7320;
constexpr int kTimer1Interval = 1000;  // ms
constexpr int kPictureIconSize = 24;
constexpr QSize kAboutBannerSize(400, 86);

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// The design's fonts, then look-alikes that Linux systems commonly have.
QFont SansSerif825() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arimo",
                      "Nimbus Sans", "Helvetica", "Arial"});
    font.setPointSizeF(8.25);
    return font;
}

QFont CourierNew975() {
    QFont font;
    font.setFamilies({"Courier New", "Liberation Mono", "Cousine", "Nimbus Mono PS", "Courier",
                      "DejaVu Sans Mono"});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(9.75);
    return font;
}

QIcon SizedIcon(const QString& name) {
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) {
        icon.addFile(QStringLiteral(":/icons/%1-%2.png").arg(name).arg(size), QSize(size, size));
    }
    return icon;
}

// Tells when the view lets go of an editor: every way an edit ends (committed, cancelled,
// or the editor dropped by a reset of the rows) passes through destroyEditor.
class GridItemDelegate : public QStyledItemDelegate {
  public:
    GridItemDelegate(std::function<void()> editEnded, QObject* parent)
        : QStyledItemDelegate(parent), editEnded_(std::move(editEnded)) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        open_ = editor;
        return editor;
    }

    void destroyEditor(QWidget* editor, const QModelIndex& index) const override {
        if (open_ == editor) {
            open_ = nullptr;
        }
        QStyledItemDelegate::destroyEditor(editor, index);
        if (editEnded_) {
            editEnded_();
        }
    }

    // Commits and closes the open editor, if any, as Enter does, but at once.
    void CommitOpenEditor() {
        if (QWidget* editor = open_) {
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
        }
    }

  private:
    std::function<void()> editEnded_;
    mutable QPointer<QWidget> open_;  // the view asks for editors through a const member
};

WindowHandle HandleOfWidget(const QWidget* widget) {
    return reinterpret_cast<WindowHandle>(widget);
}

}  // namespace

QtWindow::QtWindow(QWidget* parent) : QMainWindow(parent) {
    InitVelmarisResources();
    setObjectName("frmMain");
    setWindowTitle("Quorvel - Velmaris");
    setWindowIcon(SizedIcon("velmaris"));
    setFont(SansSerif825());

    auto* client = new QWidget(this);
    client->setObjectName("ClientArea");
    setCentralWidget(client);
    client->setFixedSize(TwipsX(kClientWidth), TwipsY(kClientHeight));
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    BuildMenus();
    BuildControls();

    timer1_ = new QTimer(this);
    timer1_->setObjectName("Timer1");
    timer1_->setInterval(kTimer1Interval);
    connect(timer1_, &QTimer::timeout, this, [this] { Timer1_Timer(); });
}

QtWindow::~QtWindow() {
    // frmMain may be gone already: an editor dropped from here on reports to nobody.
    events_ = nullptr;
    // The grids may be gone already, and closing the window would still read them.
    for (Table& grid : grids_) {
        grid.view->viewport()->removeEventFilter(this);
        grid.view->setModel(nullptr);
    }
    if (busy_) {
        QApplication::restoreOverrideCursor();
    }
}

int QtWindow::TwipsX(int twips) const {
    return static_cast<int>(std::lround(twips * logicalDpiX() / double{kTwipsPerInch}));
}

int QtWindow::TwipsY(int twips) const {
    return static_cast<int>(std::lround(twips * logicalDpiY() / double{kTwipsPerInch}));
}

template <typename W>
W* QtWindow::Make(Control control, const char* name, QWidget* container, int left, int top,
                  int width, int height) {
    auto* widget = new W(container);
    widget->setObjectName(name);
    widget->setGeometry(TwipsX(left), TwipsY(top), TwipsX(width), TwipsY(height));
    controls_[control] = widget;
    return widget;
}

void QtWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu("File");
    file->setObjectName("mnuFile");
    menus_[Menu::mnuFile] = file->menuAction();
    QMenu* newMenu = menuBar()->addMenu("New Menu");
    newMenu->setObjectName("mnuNew");
    menus_[Menu::mnuNew] = newMenu->menuAction();

    const auto item = [this](QMenu* menu, Menu id, const char* name, const char* caption) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [this, id] { MenuClicked(id); });
        menus_[id] = action;
    };
    item(file, Menu::mnuExit, "mnuExit", "Exit");
    QAction* separator = file->addSeparator();
    separator->setObjectName("mnub1");
    menus_[Menu::mnub1] = separator;
    item(file, Menu::mnuAbout, "mnuAbout", "About");
    item(newMenu, Menu::mnuSetTarget, "mnuSetTarget", "Set Target for this drive...");
    item(newMenu, Menu::mnuCFN, "mnuCFN", "Change File Name");
}

void QtWindow::BuildControls() {
    QWidget* client = centralWidget();
    const QFont buttonFont = SansSerif825();
    const auto pictureButton = [&](Control control, const char* name, QWidget* container, int left,
                                   int top, const char* caption, const char* icon) {
        auto* button = Make<QPushButton>(control, name, container, left, top, 1395, 555);
        button->setText(caption);
        button->setFont(buttonFont);
        button->setIcon(SizedIcon(icon));
        button->setIconSize(QSize(kPictureIconSize, kPictureIconSize));
        return button;
    };
    // Labels keep their designed size as a minimum and grow to fit their text, since the
    // fonts at hand are wider than the design's. Right-aligned ones grow to the left.
    const auto label = [&](Control control, const char* name, QWidget* container, int left, int top,
                           int width, int height, const char* caption, bool rightAligned = false) {
        auto* text = Make<QLabel>(control, name, container, left, top, width, height);
        text->setTextFormat(Qt::PlainText);  // a folder named "<b>x" shows as typed
        if (rightAligned) {
            text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        labels_[control] = LabelFit{text->geometry(), rightAligned};
        text->setText(caption);
        FitToText(control);
        return text;
    };

    auto* frame1 = Make<QGroupBox>(Control::Frame1, "Frame1", client, 120, 120, 5055, 3195);
    frame1->setTitle("Source Drives");
    BuildGrid(grids_[0], Control::iGrid1, "iGrid1", frame1, 120, 300, 4755, 2475);
    label(Control::Label1, "Label1", frame1, 120, 2880, 1410, 195, "Double Click to Add");

    auto* frame3 = Make<QGroupBox>(Control::Frame3, "Frame3", client, 5220, 120, 3675, 1335);
    frame3->setTitle("Target");
    auto* command1 =
        pictureButton(Control::Command1, "Command1", frame3, 240, 300, "Set Target", "set-target");
    PassClicks(command1, &WindowEvents::Command1_Click);
    auto* command2 = pictureButton(Control::Command2, "Command2", frame3, 1920, 300, "Run", "run");
    PassClicks(command2, &WindowEvents::Command2_Click);
    label(Control::Label2, "Label2", frame3, 240, 900, 3255, 315, "Label2");

    auto* frame2 = Make<QGroupBox>(Control::Frame2, "Frame2", client, 5220, 1440, 3795, 1875);
    frame2->setTitle("Details");
    auto* progress =
        Make<QProgressBar>(Control::ProgBarXP1, "ProgBarXP1", frame2, 60, 300, 3615, 255);
    progress->setFont(buttonFont);
    QPalette progressPalette = progress->palette();
    for (const auto role : {QPalette::Text, QPalette::HighlightedText, QPalette::WindowText}) {
        progressPalette.setColor(role, Qt::black);
    }
    progress->setPalette(progressPalette);
    progress->hide();
    label(Control::Label4, "Label4", frame2, 750, 660, 555, 195, "Current:", true);
    label(Control::Label5, "Label5", frame2, 1500, 660, 90, 195, "0");
    label(Control::Label8, "Label8", frame2, 270, 960, 1035, 195, "Speed (Mb/M)", true);
    label(Control::Label9, "Label9", frame2, 1500, 975, 90, 195, "0");
    label(Control::Label13, "Label13", frame2, 345, 1275, 960, 195, "Time Elapsed", true);
    label(Control::Label12, "Label12", frame2, 1500, 1275, 540, 195, "0:00:00")
        ->setToolTip("DD:HH:MM:SS");
    label(Control::Label6, "Label6", frame2, 120, 1575, 1185, 195, "Time Remaining:", true);
    label(Control::Label7, "Label7", frame2, 1500, 1575, 540, 195, "0:00:00")
        ->setToolTip("DD:HH:MM:SS");

    auto* frame4 = Make<QGroupBox>(Control::Frame4, "Frame4", client, 120, 3420, 8895, 2955);
    frame4->setTitle("Selected Drives");
    // The grid gives up a row's height for Check2: beside Label3's hint, which grows to the
    // left half of the row, neither box would fit.
    BuildGrid(grids_[1], Control::iGrid2, "iGrid2", frame4, 180, 240, 8535, 2055);
    label(Control::Label3, "Label3", frame4, 180, 2580, 480, 195, "Label3");
    // Above Check1 and created before it, so that tabbing goes top to bottom.
    auto* check2 = Make<QCheckBox>(Control::Check2, "Check2", frame4, 5760, 2340, 2955, 255);
    check2->setText("Verify images after imaging");
    auto* check1 = Make<QCheckBox>(Control::Check1, "Check1", frame4, 5760, 2640, 2955, 255);
    check1->setText("Turn off computer on completion");

    auto* stop = pictureButton(Control::XPButton1, "XPButton1", client, 7620, 6480, "Stop", "stop");
    stop->setEnabled(false);
    PassClicks(stop, &WindowEvents::XPButton1_Click);
    auto* abort = Make<QPushButton>(Control::Command6, "Command6", client, 3480, 6540, 1755, 435);
    abort->setText("Abort Shutdown");
    abort->hide();
    PassClicks(abort, &WindowEvents::Command6_Click);
    auto* command3 = Make<QPushButton>(Control::Command3, "Command3", client, 7140, 6540, 375, 315);
    command3->setText("Command3");
    command3->hide();
    PassClicks(command3, &WindowEvents::Command3_Click);

    auto* status = Make<QStatusBar>(Control::StatusBar1, "StatusBar1", client, 0, 7065, 9090, 255);
    status->setSizeGripEnabled(false);
    statusPanel1_ = new QLabel(status);
    statusPanel1_->setTextFormat(Qt::PlainText);
    statusPanel1_->setObjectName("StatusBar1Panel1");
    status->addWidget(statusPanel1_, 1);

    // Last, so that it lies over every other control.
    auto* alert = Make<QFrame>(Control::AlertBox1, "AlertBox1", client, 2340, 1680, 4935, 1410);
    alert->setStyleSheet(
        "QFrame#AlertBox1 { border: 1px solid rgb(128, 128, 64);"
        " background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,"
        " stop: 0 rgb(255, 255, 128), stop: 1 rgb(255, 255, 192)); }");
    alertText_ = new QLabel(alert);
    alertText_->setObjectName("AlertBox1Text");
    alertText_->setTextFormat(Qt::PlainText);
    // Set on the label itself: a style sheet stops a parent's font from reaching it.
    alertText_->setFont(CourierNew975());
    alertText_->setAlignment(Qt::AlignCenter);
    alertText_->setWordWrap(true);
    alertText_->setStyleSheet("color: black; background: transparent;");
    auto* alertLayout = new QVBoxLayout(alert);
    alertLayout->addWidget(alertText_);
    alert->hide();
}

void QtWindow::BuildGrid(Table& grid, Control control, const char* name, QWidget* container,
                         int left, int top, int width, int height) {
    grid.view = Make<QTableView>(control, name, container, left, top, width, height);
    grid.view->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid.view->setSelectionMode(QAbstractItemView::SingleSelection);
    // Editing starts only through StartEdit, and its end is reported to frmMain.
    grid.view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const bool jobs = control == Control::iGrid2;
    grid.view->setItemDelegate(new GridItemDelegate(
        [this, jobs] {
            if (jobs && events_ != nullptr) {
                events_->iGrid2_EditEnded();
            }
        },
        grid.view));
    grid.view->viewport()->installEventFilter(this);
    grid.view->verticalHeader()->hide();
    grid.view->verticalHeader()->setDefaultSectionSize(grid.view->fontMetrics().height() + 4);
    grid.view->horizontalHeader()->setHighlightSections(false);
    grid.view->setWordWrap(false);
}

void QtWindow::Bind(WindowEvents& events, grid::GridModel& iGrid1, grid::GridModel& iGrid2) {
    events_ = &events;
    BindGrid(grids_[0], iGrid1);
    BindGrid(grids_[1], iGrid2);
}

void QtWindow::BindGrid(Table& grid, grid::GridModel& model) {
    grid.model = new GridTableModel(model, this);
    grid.view->setModel(grid.model);
    Table* bound = &grid;
    connect(grid.model, &QAbstractItemModel::modelReset, this, [this, bound] {
        ApplyColumns(*bound);
        ShowCurRow(*bound);
    });
    connect(grid.model, &GridTableModel::currentRowChanged, this,
            [this, bound] { ShowCurRow(*bound); });
    // The grid reports its current row to the model, as the user moves it.
    connect(grid.view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [bound](const QModelIndex& current) {
                grid::GridModel& target = bound->model->Grid();
                if (current.isValid() && current.row() + 1 != target.CurRow()) {
                    target.SetCurRow(current.row() + 1);
                }
            });
    ApplyColumns(grid);
    ShowCurRow(grid);
}

void QtWindow::ApplyColumns(Table& grid) {
    const grid::GridModel& model = grid.model->Grid();
    // Only what the model changed reaches the view: a width the user dragged stays through
    // sorts and rows coming and going.
    const auto count = static_cast<size_t>(model.ColCount());
    if (grid.columns.size() != count) {
        grid.columns.assign(count, {});
    }
    for (int col = 1; col <= model.ColCount(); ++col) {
        const ColumnLook wanted{model.ColWidth(col), model.ColVisible(col)};
        std::optional<ColumnLook>& shown = grid.columns[static_cast<size_t>(col - 1)];
        if (shown != wanted) {
            grid.view->setColumnWidth(col - 1, wanted.width);
            grid.view->setColumnHidden(col - 1, !wanted.visible);
            shown = wanted;
        }
    }
}

void QtWindow::ShowCurRow(const Table& grid) {
    QItemSelectionModel* selection = grid.view->selectionModel();
    const int row = grid.model->Grid().CurRow();
    if (row == 0) {
        selection->clearSelection();
        selection->clearCurrentIndex();
        return;
    }
    if (selection->currentIndex().row() != row - 1 || !selection->hasSelection()) {
        const QModelIndex first = grid.model->index(row - 1, 0);
        selection->setCurrentIndex(first,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        grid.view->scrollTo(first);
    }
}

void QtWindow::FitToText(Control control) {
    auto* label = static_cast<QLabel*>(controls_.at(control));
    const LabelFit& fit = labels_.at(control);
    const int width = std::max(fit.designed.width(), label->sizeHint().width());
    const int left =
        fit.rightAligned ? fit.designed.x() + fit.designed.width() - width : fit.designed.x();
    label->setGeometry(left, fit.designed.y(), width, fit.designed.height());
}

void QtWindow::SetCaption(Control control, const std::string& text) {
    const QString caption = Text(text);
    if (control == Control::StatusBar1) {
        statusPanel1_->setText(caption);
        return;
    }
    if (control == Control::AlertBox1) {
        alertText_->setText(caption);
        return;
    }
    QWidget* widget = ControlWidget(control);
    if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        box->setTitle(caption);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(caption);
        FitToText(control);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(caption);
    } else if (auto* progress = qobject_cast<QProgressBar*>(widget)) {
        progress->setFormat(caption);
    }
}

void QtWindow::SetEnabled(Control control, bool enabled) {
    if (control == Control::Timer1) {
        if (enabled) {
            timer1_->start();
        } else {
            timer1_->stop();
        }
        return;
    }
    if (QWidget* widget = ControlWidget(control)) {
        widget->setEnabled(enabled);
    }
}

void QtWindow::SetVisible(Control control, bool visible) {
    QWidget* widget = ControlWidget(control);
    if (widget == nullptr) {
        return;  // Timer1 is never seen
    }
    widget->setVisible(visible);
    if (visible && control == Control::AlertBox1) {
        widget->raise();  // a notice lies over the controls
    }
}

void QtWindow::SetMenuVisible(Menu menu, bool visible) {
    menus_.at(menu)->setVisible(visible);
}

void QtWindow::SetMenuCaption(Menu menu, const std::string& text) {
    // Menus read "&" as the mark of a shortcut: a drive's name shows as it is.
    menus_.at(menu)->setText(Text(text).replace('&', QStringLiteral("&&")));
}

void QtWindow::ShowModeless() {
    show();
}

void QtWindow::PumpMessages() {
    QCoreApplication::processEvents();
}

void QtWindow::SetPointer(Pointer pointer) {
    const bool busy = pointer == Pointer::Busy;
    if (busy == busy_) {
        return;  // override cursors stack; keep at most one of ours
    }
    busy_ = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

Answer QtWindow::MessageBox(const std::string& prompt, const std::string& title, unsigned style) {
    QMessageBox box(this);
    box.setWindowTitle(Text(title));
    box.setTextFormat(Qt::PlainText);  // prompts carry paths and drive names, never markup
    box.setText(Text(prompt));
    const bool yesNo = (style & 0xFu) == mb::kYesNo;
    box.setStandardButtons(yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    switch (style & 0xF0u) {
        case mb::kQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        case mb::kExclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        default:
            break;
    }
    const int clicked = box.exec();
    if (!yesNo) {
        return Answer::Ok;
    }
    return clicked == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

platform::FolderChoice QtWindow::BrowseForFolder(const std::string& title) {
    const QString folder = QFileDialog::getExistingDirectory(this, Text(title));
    if (folder.isEmpty()) {
        return {};
    }
    // Bytes that are not UTF-8 come out of a name as U+FFFD: the text then names no folder.
    const bool changed = folder.contains(QChar::ReplacementCharacter) && !QFileInfo(folder).isDir();
    return {folder.toStdString(), changed};
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
        type == QEvent::ContextMenu) {
        for (size_t i = 0; i < grids_.size(); ++i) {
            if (grids_[i].view != nullptr && watched == grids_[i].view->viewport()) {
                if (type == QEvent::ContextMenu) {
                    return true;  // the right button's press is the grid's only menu event
                }
                const auto grid = i == 0 ? platform::Grid::iGrid1 : platform::Grid::iGrid2;
                return GridMouse(grid, watched, static_cast<QMouseEvent*>(event));
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool QtWindow::GridMouse(platform::Grid grid, QObject* viewport, QMouseEvent* event) {
    Table& table = grids_[grid == platform::Grid::iGrid1 ? 0 : 1];
    if (forwardingPress_ || events_ == nullptr || table.model == nullptr) {
        return false;
    }
    const bool first = grid == platform::Grid::iGrid1;
    const QPoint at = event->position().toPoint();
    const QModelIndex index = table.view->indexAt(at);
    const int row = index.isValid() ? index.row() + 1 : 0;

    if (event->type() == QEvent::MouseButtonDblClick && event->button() == Qt::LeftButton) {
        const int col = table.view->columnAt(at.x()) + 1;  // 0 when past the last column
        if (row != 0 && table.model->Grid().CurRow() != row) {
            table.model->Grid().SetCurRow(row);
        }
        event->accept();
        if (first) {
            events_->iGrid1_DblClick(row, col);
        } else {
            events_->iGrid2_DblClick(row, col);
        }
        return true;
    }

    int button = 0;
    if (event->button() == Qt::LeftButton) {
        button = kLeftButton;
        // The view makes the pressed row current first, as it does for any press.
        forwardingPress_ = true;
        QCoreApplication::sendEvent(viewport, event);
        forwardingPress_ = false;
    } else if (event->button() == Qt::RightButton) {
        button = kRightButton;  // frmMain decides which row becomes current
    } else {
        return false;
    }
    event->accept();
    if (first) {
        events_->iGrid1_MouseButton(button, row);
    } else {
        events_->iGrid2_MouseButton(button, row);
    }
    return true;
}

void QtWindow::StartEdit(platform::Grid grid, int row, int col) {
    const Table& table = grids_[grid == platform::Grid::iGrid1 ? 0 : 1];
    if (table.model == nullptr) {
        return;
    }
    const QModelIndex cell = table.model->index(row - 1, col - 1);
    if (!cell.isValid() || !(table.model->flags(cell) & Qt::ItemIsEditable)) {
        return;  // frmMain makes the grid editable first
    }
    table.view->scrollTo(cell);
    table.view->edit(cell);
}

void QtWindow::CommitEdit(platform::Grid grid) {
    const Table& table = grids_[grid == platform::Grid::iGrid1 ? 0 : 1];
    static_cast<GridItemDelegate*>(table.view->itemDelegate())->CommitOpenEditor();
}

void QtWindow::ShowPopupMenu(Menu menu) {
    QMenu* popup = menus_.at(menu)->menu();
    if (popup != nullptr) {
        // Its items run their events from within, like a click in the menu bar.
        popup->exec(QCursor::pos());
    }
}

void QtWindow::DisableClose(bool disable) {
    if (disable == closeDisabled_) {
        return;
    }
    closeDisabled_ = disable;
    if (disable) {
        closableFlags_ = windowFlags();
    }
    // New flags hide a shown window; it comes back where it was.
    const bool shown = isVisible();
    const QPoint where = pos();
    setWindowFlags(disable ? closableFlags_ & ~Qt::WindowCloseButtonHint : closableFlags_);
    if (shown) {
        move(where);
        show();
    }
}

void QtWindow::closeEvent(QCloseEvent* event) {
    // Window managers may ignore the missing close button: this is the real lock.
    if (closeDisabled_) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void QtWindow::EndProgram() {
    std::_Exit(0);
}

void QtWindow::ShowAboutBox(const std::string& versionLine) {
    auto* about = new QDialog(this);
    QPointer<QDialog> alive = about;
    about->setObjectName("frmABout");
    about->setWindowTitle("About");
    about->setWindowIcon(windowIcon());
    about->setWindowModality(Qt::ApplicationModal);

    auto* frame = new QGroupBox("About Velmaris", about);
    frame->setObjectName("Frame1");
    auto* image = new QLabel(frame);
    image->setObjectName("Image1");
    image->setFixedSize(kAboutBannerSize);
    image->setPixmap(QPixmap(":/about/banner.jpg"));
    auto* version = new QLabel(Text(versionLine), frame);
    version->setObjectName("Label2");
    version->setTextFormat(Qt::PlainText);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(image);
    frameLayout->addWidget(version);

    auto* ok = new QPushButton("OK", about);
    ok->setObjectName("Command1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, about, [this, about] {
        about->hide();  // ends the dialog's loop
        show();
        raise();
        activateWindow();
    });

    auto* layout = new QVBoxLayout(about);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(frame);
    layout->addWidget(ok, 0, Qt::AlignRight);

    about->exec();
    delete alive.data();  // made anew for every showing
}

std::unique_ptr<TooltipWindow> QtWindow::CreateTooltipWindow() {
    // The tooltip window may outlive this window; it then finds no widgets.
    return std::make_unique<QtTooltipWindow>(
        this, [window = QPointer<QtWindow>(this)](WindowHandle handle) -> QWidget* {
            return window ? window->WidgetOf(handle) : nullptr;
        });
}

WindowHandle QtWindow::HandleOf(Control control) {
    return HandleOfWidget(ControlWidget(control));
}

WindowHandle QtWindow::ContainerOf(Control control) {
    QWidget* widget = ControlWidget(control);
    return widget == nullptr ? 0 : HandleOfWidget(widget->parentWidget());
}

QWidget* QtWindow::WidgetOf(WindowHandle handle) const {
    if (handle == 0) {
        return nullptr;
    }
    for (const auto& [control, widget] : controls_) {
        if (HandleOfWidget(widget) == handle) {
            return widget;
        }
    }
    if (HandleOfWidget(centralWidget()) == handle) {
        return centralWidget();
    }
    return nullptr;
}

void QtWindow::Timer1_Timer() {
    if (events_ != nullptr) {
        events_->Timer1_Timer();
    }
}

void QtWindow::PassClicks(QAbstractButton* button, void (WindowEvents::*handler)()) {
    connect(button, &QAbstractButton::clicked, this, [this, handler] {
        if (events_ != nullptr) {
            (events_->*handler)();
        }
    });
}

QWidget* QtWindow::ControlWidget(Control control) const {
    const auto found = controls_.find(control);
    return found == controls_.end() ? nullptr : found->second;
}

bool QtWindow::IsChecked(Control control) {
    const auto* box = qobject_cast<QCheckBox*>(ControlWidget(control));
    return box != nullptr && box->isChecked();
}

void QtWindow::SetChecked(Control control, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(ControlWidget(control))) {
        box->setChecked(checked);
    }
}

void QtWindow::SetProgressMax(int maximum) {
    if (auto* bar = qobject_cast<QProgressBar*>(ControlWidget(Control::ProgBarXP1))) {
        bar->setMaximum(maximum);
    }
}

void QtWindow::SetProgressValue(int value) {
    if (auto* bar = qobject_cast<QProgressBar*>(ControlWidget(Control::ProgBarXP1))) {
        bar->setValue(value);
    }
}

void QtWindow::MenuClicked(Menu menu) {
    if (events_ == nullptr) {
        return;
    }
    switch (menu) {
        case Menu::mnuExit:
            events_->mnuExit_Click();
            break;
        case Menu::mnuAbout:
            events_->mnuAbout_Click();
            break;
        case Menu::mnuSetTarget:
            events_->mnuSetTarget_Click();
            break;
        case Menu::mnuCFN:
            events_->mnuCFN_Click();
            break;
        case Menu::mnuFile:
        case Menu::mnuNew:
        case Menu::mnub1:
            break;  // menus and separators have no click
    }
}

}  // namespace velmaris::platform
