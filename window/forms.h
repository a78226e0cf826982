// Our small forms layer over Qt Widgets: a window built from a declarative table of controls,
// control arrays with Load, twip geometry, the timer, and the event gate that delivers one event
// at a time and reports runtime errors. Game code sees only the classes below, never a widget.
#pragma once

#include "runtime.h"

#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QWidget;

namespace forms {

// ---- The window description ------------------------------------------------------------------

enum class Kind { TextBox, Label, PictureBox, CommandButton, Frame, OptionButton, Timer };

enum Setting : unsigned {
    Plain = 0,
    Hidden = 1 << 0,
    Locked = 1 << 1, // read-only text
    MultiLine = 1 << 2,
    VerticalScrollBar = 1 << 3,
    Centred = 1 << 4,
    Graphical = 1 << 5, // a command button that shows its background colour
};

// OLE colours are &H00BBGGRR&; the high byte marks the system's own colour instead.
constexpr std::uint32_t SystemColour = 0x80000000;

struct DesignControl {
    const char* name;
    int index; // Index within its control array, or -1 for a single control
    Kind kind;
    const char* container;          // nullptr: the window's client area
    float left, top, width, height; // twips
    const char16_t* text;           // caption or text
    std::uint32_t backColour;
    float fontPoints; // 0: the container's font
    unsigned settings;
    int tabIndex; // focus order; labels and frames never take the focus
    int stacking; // 0 is frontmost; labels lie behind every other control
    int interval; // timers only, milliseconds
    // What a screen reader calls the control; nullptr: its caption, which labels, buttons, the
    // frame and the options already give and which follows a caption set at run time.
    const char16_t* accessibleName = nullptr;
};

struct DesignWindow {
    const char16_t* caption;
    float clientWidth, clientHeight; // twips
    std::uint32_t backColour;
    const char* fontFace;
    float fontPoints;
    const char* icon; // a resource path
};

// ---- Controls --------------------------------------------------------------------------------

class Form;
class ControlArrayBase;

// Twips to logical pixels: 15 twips a pixel. Both edges are rounded, never the size, so that two
// controls with the same twips cover exactly the same pixels.
int PixelOf(double twips);
QRect PixelRect(double left, double top, double width, double height);

class Control {
  public:
    Control(QWidget* widget, const DesignControl& design, Integer index, ControlArrayBase* array);
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control();

    Integer Index() const { return index_; }
    float Left() const { return left_; }
    float Top() const { return top_; }
    float Width() const { return width_; }
    float Height() const { return height_; }
    void setLeft(float twips);
    void setTop(float twips);
    void setWidth(float twips);
    void setHeight(float twips);
    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool Visible() const { return visible_; }
    void setVisible(bool visible);

    QWidget* widget() const { return widget_; }
    const DesignControl& design() const { return design_; }

  protected:
    // Player input reaches the array's handler through the form's gate, and only while the
    // control is enabled and visible. False when another handler runs and the click is lost.
    bool playerClicked();
    // A click raised by code runs the handler at once, nested in the handler that caused it.
    void raiseClick();

  private:
    void place();

    QWidget* widget_;
    const DesignControl& design_;
    Integer index_;
    ControlArrayBase* array_;
    float left_, top_, width_, height_;
    bool enabled_ = true;
    bool visible_ = true;
};

class TextBox : public Control {
  public:
    TextBox(QWidget* parent, const DesignControl& design, Integer index, ControlArrayBase* array);
    // The text exactly as written or typed; a multi-line box shows CR LF as a line break.
    QString Text() const { return text_; }
    void setText(const QString& text);

  private:
    QString text_;
};

class Label : public Control {
  public:
    Label(QWidget* parent, const DesignControl& design, Integer index, ControlArrayBase* array);
    QString Caption() const;
    void setCaption(const QString& caption);
};

class PictureBox : public Control {
  public:
    PictureBox(QWidget* parent, const DesignControl& design, Integer index,
               ControlArrayBase* array);
};

class CommandButton : public Control {
  public:
    CommandButton(QWidget* parent, const DesignControl& design, Integer index,
                  ControlArrayBase* array);
    QString Caption() const;
};

class Frame : public Control {
  public:
    Frame(QWidget* parent, const DesignControl& design, Integer index, ControlArrayBase* array);
    QString Caption() const;
};

class OptionButton : public Control {
  public:
    OptionButton(QWidget* parent, const DesignControl& design, Integer index,
                 ControlArrayBase* array);
    ~OptionButton() override;
    QString Caption() const;
    bool Value() const;
    // True clears the other options of the container and, if this one was not selected,
    // raises its Click before returning.
    void setValue(bool value);

  private:
    // The player selected this option, by mouse, keyboard or assistive technology.
    void playerSelected();
    // Selects or clears without a Click.
    void select(bool value);
    bool settingValue_ = false;
};

// ---- Control arrays --------------------------------------------------------------------------

class ControlArrayBase {
  public:
    ControlArrayBase(Form& form, std::string name) : form_(form), name_(std::move(name)) {}
    virtual ~ControlArrayBase() = default;

    // The Click handler of every member, design-time or loaded, called with the member's Index.
    std::function<void(Integer)> onClick;

    // A new member with the design-time settings of member 0, hidden until made visible.
    void Load(Integer index);
    int Count() const { return static_cast<int>(members_.size()); }
    bool Exists(Integer index) const { return members_.count(index.value()) != 0; }
    const std::string& name() const { return name_; }

  protected:
    Control& member(Integer index) const;

  private:
    friend class Form;
    friend class Control;
    Form& form_;
    std::string name_;
    std::map<std::int16_t, std::unique_ptr<Control>> members_;
};

template <class T> class ControlArray : public ControlArrayBase {
  public:
    using ControlArrayBase::ControlArrayBase;
    T& operator()(Integer index) const { return static_cast<T&>(member(index)); }
};

// ---- The timer -------------------------------------------------------------------------------

class Timer {
  public:
    Timer(Form& form, const DesignControl& design);
    bool Enabled() const { return enabled_; }
    // Enabling a running timer changes nothing: the tick phase goes on as it was.
    void setEnabled(bool enabled);
    int Interval() const { return interval_; }
    void setInterval(int milliseconds);

    std::function<void()> onTimer;

    // Tests drive the ticks themselves: no real ticks arrive, and Fire() delivers one now.
    void DriveByHand();
    void Fire() { deliver(); }

  private:
    friend class Form;
    void deliver();

    Form& form_;
    QTimer clock_;
    int interval_;
    bool enabled_ = false;
    bool byHand_ = false;
    bool waiting_ = false; // a tick came while another handler ran
};

// ---- The form --------------------------------------------------------------------------------

class Form {
  public:
    Form(const DesignWindow& window, std::span<const DesignControl> controls);
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;
    virtual ~Form();

    QWidget* window() const { return window_.get(); }
    // Raises Load while the window is hidden, then shows it centred with the focus on the first
    // control in focus order that can take it.
    void Start();
    // True once the player has closed the window: from then on no handler runs.
    bool Closed() const { return closed_; }

    // Runs one event handler under the runtime's rules: never inside another handler, and a
    // runtime error leaves the handler, is reported and the program goes on. Returns false when
    // another handler is running and the event was not delivered. Once the window has closed,
    // events are dropped.
    bool Deliver(const std::function<void()>& handler);

    // How a runtime error reaches the player; by default a message box over the window, which
    // holds off the player's input until it is closed, as a modal box would, yet lets the window
    // close at any moment. An empty reporter restores the box.
    using ErrorReporter = std::function<void(const RuntimeError&)>;
    static void SetErrorReporter(ErrorReporter reporter);
    // Shows the box and returns while it shows (nothing waits in an event loop of its own, which
    // a browser could not run); `closed` runs once it has gone, by the player or with its window.
    // Returns the box.
    static QWidget* ShowErrorBox(const RuntimeError& error, QWidget* over = nullptr,
                                 const std::function<void()>& closed = {});

  protected:
    virtual void Form_Load() {}

    template <class T> ControlArray<T>& array(const char* name) {
        return dynamic_cast<ControlArray<T>&>(*arrays_.at(name));
    }
    template <class T> T& single(const char* name) {
        return dynamic_cast<T&>(arrays_.at(name)->member(-1));
    }
    Timer& timer(const char* name) { return *timers_.at(name); }

  private:
    friend class ControlArrayBase;
    Control& create(const DesignControl& design, Integer index, ControlArrayBase& array);
    void finishDelivery();
    void deliverWaitingTicks();
    void windowClosed();

    std::unique_ptr<QWidget> frame_;  // our title bar around window_ where drawn; outlives it
    std::unique_ptr<QWidget> window_; // first, so that it outlives the controls' references
    const char* fontFace_;
    std::map<std::string, std::unique_ptr<ControlArrayBase>> arrays_;
    std::map<std::string, std::unique_ptr<Timer>> timers_;
    QWidget* backmostWindowed_ = nullptr; // loaded labels join the label layer just behind it
    QPointer<QWidget> errorBox_;          // while it shows
    bool busy_ = false;
    bool closed_ = false;
};

} // namespace forms
