"""dbusmock template: systemd's user manager, with glide's user unit, which
notes whether it is enabled."""

BUS_NAME = "org.freedesktop.systemd1"
MAIN_OBJ = "/org/freedesktop/systemd1"
MAIN_IFACE = "org.freedesktop.systemd1.Manager"
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.enabled = False
    mock.AddMethods(MAIN_IFACE, [
        ("GetUnitFileState", "s", "s", "ret = 'enabled' if self.enabled else 'disabled'"),
        ("EnableUnitFiles", "asbb", "ba(sss)", "self.enabled = True\nret = (False, [])"),
        ("DisableUnitFiles", "asb", "a(sss)", "self.enabled = False\nret = []"),
        ("Reload", "", "", ""),
    ])
