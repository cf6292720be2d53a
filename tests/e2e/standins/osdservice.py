"""dbusmock template: Plasma's on-screen display, which notes what it is
asked to show."""

BUS_NAME = "org.kde.plasmashell"
MAIN_OBJ = "/org/kde/osdService"
MAIN_IFACE = "org.kde.osdService"
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.AddMethod(MAIN_IFACE, "showText", "ss", "", "")
