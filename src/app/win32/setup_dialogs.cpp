#include "app/win32/setup_dialogs.h"

#include "app/win32/open_file_dialog.h"
#include "resources/resource_ids.h"

namespace farsend::app::win32 {

namespace {

struct ProgrammingSetupRun {
    ToolSettings& settings;
    ProgrammingSetup setup;
};

struct SerialSetupRun {
    ToolSettings& settings;
    PortChangeSteps& steps;
    std::function<void()> launch;
    SerialSetup setup;
};

template <typename Run>
Run* RunOf(HWND dialog) {
    return reinterpret_cast<Run*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

void Check(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Enable(HWND dialog, int id, bool enabled) {
    EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
}

void Select(HWND dialog, int id, std::optional<int> position) {
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(position.value_or(-1)), 0);
}

// Every control after the model.
void ShowProgrammingSetup(HWND dialog, const ProgrammingSetup& setup) {
    Check(dialog, IDC_FLASH_APPLICATION, setup.ApplicationChecked());
    Check(dialog, IDC_FLASH_BOOTLOADER_AND_APPLICATION, setup.BootloaderChecked());
    Check(dialog, IDC_AUTO_SELECT_FILE, setup.AutoSelectChecked());
    Check(dialog, IDC_VALIDATE_DEVICE, setup.ValidateChecked());
    Select(dialog, IDC_DEVICE_TYPE_LIST, setup.DeviceTypeSelection());
    Select(dialog, IDC_DEVICE_VERSION_LIST, setup.HardwareVersionSelection());
    Enable(dialog, IDC_DEVICE_TYPE_LIST, setup.ListsEnabled());
    Enable(dialog, IDC_DEVICE_VERSION_LIST, setup.ListsEnabled());
    Enable(dialog, IDC_FILE_NAME, setup.FileChoiceEnabled());
    Enable(dialog, IDC_BROWSE, setup.FileChoiceEnabled());
    SetDlgItemTextA(dialog, IDC_FILE_NAME, setup.ShownFileName().c_str());
}

void Browse(HWND dialog, ProgrammingSetupRun& run) {
    OpenFileRequest request;
    request.initialDirectory = run.settings.firmwareDirectory.Get();
    const auto chosen = ChooseFile(dialog, request, run.setup.BrowseStartPath());
    if (chosen) run.setup.BrowseChosen(*chosen);
}

int SelectedPosition(HWND dialog, int list) {
    return static_cast<int>(SendDlgItemMessageA(dialog, list, CB_GETCURSEL, 0, 0));
}

}  // namespace

INT_PTR CALLBACK ProgrammingSetupDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        const ProgrammingSetup& setup = reinterpret_cast<ProgrammingSetupRun*>(lParam)->setup;
        for (DeviceType type : setup.DeviceTypeEntries()) {
            SendDlgItemMessageA(dialog, IDC_DEVICE_TYPE_LIST, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(DeviceTypeText(type).c_str()));
        }
        for (HardwareVersion version : setup.HardwareVersionEntries()) {
            SendDlgItemMessageA(dialog, IDC_DEVICE_VERSION_LIST, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(HardwareVersionText(version).c_str()));
        }
        ShowProgrammingSetup(dialog, setup);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    ProgrammingSetupRun* run = RunOf<ProgrammingSetupRun>(dialog);
    if (run == nullptr) return FALSE;
    ProgrammingSetup& setup = run->setup;
    const int id = LOWORD(wParam);
    const int notification = HIWORD(wParam);
    switch (id) {
        case IDC_FLASH_APPLICATION:
            setup.ChooseApplication();
            break;
        case IDC_FLASH_BOOTLOADER_AND_APPLICATION:
            setup.ChooseBootloaderAndApplication();
            break;
        case IDC_DEVICE_TYPE_LIST:
            if (notification != CBN_SELENDOK) return FALSE;
            setup.ChooseDeviceTypeEntry(SelectedPosition(dialog, id));
            break;
        case IDC_DEVICE_VERSION_LIST:
            if (notification != CBN_SELENDOK) return FALSE;
            setup.ChooseHardwareVersionEntry(SelectedPosition(dialog, id));
            break;
        case IDC_AUTO_SELECT_FILE:
            setup.ToggleAutoSelect();
            break;
        case IDC_VALIDATE_DEVICE:
            setup.ToggleValidate();
            break;
        case IDC_BROWSE:
            Browse(dialog, *run);
            break;
        case IDOK:
            setup.Apply();
            EndDialog(dialog, 0);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
    ShowProgrammingSetup(dialog, setup);
    return TRUE;
}

INT_PTR CALLBACK SerialSetupDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    } else if (message != WM_COMMAND) {
        return FALSE;
    }
    SerialSetupRun* run = RunOf<SerialSetupRun>(dialog);
    if (run == nullptr) return FALSE;
    if (message == WM_COMMAND) {
        const int id = LOWORD(wParam);
        if (id >= IDC_COM1 && id <= IDC_COM4) {
            run->setup.Choose(kFirstComPort + (id - IDC_COM1));
        } else if (id == IDOK) {
            run->setup.Apply(run->settings, run->steps, run->launch);
            EndDialog(dialog, 0);
            return TRUE;
        } else if (id == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        } else {
            return FALSE;
        }
    }
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        Check(dialog, IDC_COM1 + (port - kFirstComPort), run->setup.Checked(port));
    }
    return TRUE;
}

void OpenProgrammingSetup(HINSTANCE instance, HWND owner, ToolSettings& settings) {
    ProgrammingSetupRun run{settings, ProgrammingSetup(settings)};
    DialogBoxParamA(instance, RES_DLG_PROGRAMMING_SETUP, owner, ProgrammingSetupDialog,
                    reinterpret_cast<LPARAM>(&run));
}

void OpenSerialSetup(HINSTANCE instance, HWND owner, ToolSettings& settings, PortChangeSteps& steps,
                     std::function<void()> launchTargetApplication) {
    SerialSetupRun run{settings, steps, std::move(launchTargetApplication), SerialSetup(settings)};
    DialogBoxParamA(instance, RES_DLG_SERIAL_SETUP, owner, SerialSetupDialog,
                    reinterpret_cast<LPARAM>(&run));
}

}  // namespace farsend::app::win32
