# Sourced by the Qt builds for Windows and the browser: the parts of Qt the game never uses,
# switched off so that neither the program nor the page carries them (each is a download, once
# per lab machine or once per visit). Qt turns off with each what needs it (the list view takes
# the combo box along). What the game and its suites use stays: labels, push and radio buttons,
# group boxes, line and plain text edits with their context menus, the message box, Fusion, the
# clipboard, accessibility and translations. Qt 6.4 cannot build its styles without the item
# views' base, nor its widgets without the main window's tool bar.
lighter_qt=(-optimize-size -no-libjpeg -no-gif -no-ico
    -no-feature-graphicsview -no-feature-graphicseffect -no-feature-listview
    -no-feature-treeview -no-feature-tableview -no-feature-completer
    -no-feature-datawidgetmapper -no-feature-dockwidget -no-feature-toolbox
    -no-feature-tabwidget -no-feature-tabbar -no-feature-mdiarea -no-feature-splitter
    -no-feature-calendarwidget -no-feature-datetimeedit -no-feature-spinbox -no-feature-dial
    -no-feature-lcdnumber -no-feature-progressbar -no-feature-splashscreen
    -no-feature-syntaxhighlighter -no-feature-textbrowser -no-feature-wizard
    -no-feature-inputdialog -no-feature-errormessage -no-feature-filedialog
    -no-feature-fontdialog -no-feature-colordialog -no-feature-progressdialog
    -no-feature-statusbar -no-feature-statustip -no-feature-whatsthis -no-feature-undocommand
    -no-feature-rubberband -no-feature-keysequenceedit -no-feature-gestures
    -no-feature-style-stylesheet -no-feature-movie -no-feature-systemtrayicon
    -no-feature-commandlinkbutton -no-feature-sizegrip -no-feature-scroller
    -no-feature-standarditemmodel -no-feature-pdf
    -no-feature-textodfwriter -no-feature-textmarkdownreader -no-feature-textmarkdownwriter
    -no-feature-sessionmanager -no-feature-process -no-feature-sharedmemory
    -no-feature-systemsemaphore -no-feature-filesystemwatcher -no-feature-islamiccivilcalendar
    -no-feature-jalalicalendar -no-feature-xmlstream -no-feature-imageformat_bmp
    -no-feature-imageformat_ppm -no-feature-imageformat_xbm)
