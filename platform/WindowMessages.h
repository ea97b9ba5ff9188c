// Windows and messages between the user's processes. A window is a handler registered under a
// class name; its handle is a non-zero 32-bit value valid in every process of the user. Each
// process that owns windows has one endpoint (an AF_UNIX datagram socket in the runtime
// folder); the window records live there too. Messages are handled on the thread that runs
// DispatchPendingMessages or RunMessageLoop.
#pragma once

#include "Win32Types.h"

#include <functional>

using WindowHandler = std::function<LRESULT(HWND window, UINT message, WPARAM wParam, LPARAM lParam)>;

// The same number, from 0xC000 to 0xFFFF, for the same name (letter case ignored) in every
// process of the user. 0 on failure.
UINT RegisterWindowMessageA(LPCSTR name);

// Creates a window of the class in this process; 0 on failure.
HWND CreateMessageWindow(LPCSTR className, WindowHandler handler);
BOOL DestroyWindow(HWND window);

// TRUE while the window exists: its record is there and its process lives.
BOOL IsWindow(HWND window);

// A window of the class (letter case ignored) in a live process of the user, or 0. The window
// name is not used and must be null.
HWND FindWindowA(LPCSTR className, LPCSTR windowName);

// Queues a message and returns at once. Fails (FALSE) when the window or its process is gone.
// When the receiver's queue is full the message is dropped but the call succeeds: the receiver
// is alive and has messages to handle, so only idempotent notifications may be posted.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Delivers a message and waits for the handler's 32-bit answer. A window that does not answer
// within the send time-out (5 s, or WAVEHARVESTER_SEND_TIMEOUT_MS) counts as gone: the result
// is 0 with ERROR_TIMEOUT. A window of this process is called directly.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Hands a message to the process's background poster and returns at once; can be called from
// any thread. The poster delivers such messages in the order given and, where PostMessageA
// would drop one at a full queue, waits for room; a message to a window that is gone is
// dropped. For notifications that must all arrive (a device returning its buffers).
void PostMessageInOrder(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// This process's endpoint descriptor, readable when messages wait (-1 while it has no windows),
// for an event loop to watch.
int MessageQueueDescriptor();

// Handles every message waiting now; does not block.
void DispatchPendingMessages();

// Handles messages until PostQuitMessage is called (from a handler or another thread);
// returns its exit code.
int RunMessageLoop();
void PostQuitMessage(int exitCode);
