// The floor of the Windows start-up figure: the least a Win32 program does to show a window with
// a line of text and then write to a terminal on the loopback. It registers a window class,
// shows a tool window of the status window's size with a text in it, starts a non-blocking
// connection when the window has been shown (as the program starts its link from its show
// event), and writes one byte from its connect event. The driver times the start to that byte's
// arrival under Wine; the program's own start-up is held against it.
//   win32_first_byte PORT
#include <windows.h>
#include <winsock2.h>

#include <cstdlib>

namespace {

constexpr UINT kSocketMessage = WM_APP + 1;
SOCKET g_socket = INVALID_SOCKET;

void Connect(HWND window, int port) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        ::ExitProcess(1);
    g_socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (g_socket == INVALID_SOCKET ||
        ::WSAAsyncSelect(g_socket, window, kSocketMessage, FD_CONNECT) != 0) {
        ::ExitProcess(1);
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = ::htons(static_cast<u_short>(port));
    peer.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (::connect(g_socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
        ::WSAGetLastError() != WSAEWOULDBLOCK) {
        ::ExitProcess(1);
    }
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kSocketMessage && WSAGETSELECTEVENT(lParam) == FD_CONNECT) {
        const char byte = 0x02;
        if (WSAGETSELECTERROR(lParam) != 0 || ::send(g_socket, &byte, 1, 0) != 1)
            ::ExitProcess(1);
        return 0;
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const int port = __argc == 2 ? std::atoi(__argv[1]) : 0;
    if (port <= 0 || port > 65535)
        return 2;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"Floor";
    if (::RegisterClassExW(&windowClass) == 0)
        return 1;
    RECT rect{0, 0, 458, 84};
    ::AdjustWindowRectEx(&rect, WS_POPUP | WS_CAPTION, FALSE, WS_EX_TOOLWINDOW);
    HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"Floor", L"Terminal", WS_POPUP | WS_CAPTION,
                                    CW_USEDEFAULT, CW_USEDEFAULT, rect.right - rect.left,
                                    rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    ::CreateWindowExW(0, L"STATIC", L"Transakce provedena", WS_CHILD | WS_VISIBLE | SS_CENTER, 6,
                      20, 445, 37, window, nullptr, instance, nullptr);
    ::ShowWindow(window, SW_SHOW);
    ::UpdateWindow(window);
    Connect(window, port);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
