' A script host's use of the plug-in's request client, as any automation
' client would: httpHandler created by its ProgID and driven late-bound
' through IDispatch. Wine's script host has no WScript.Sleep and pumps no
' messages, so no reply and no time-out reaches the object here; the test
' that runs this script reads what reached the server.
'
' Usage: cscript http_handler_client.vbs URL
' Prints one line per check, "ok NAME" or "FAILED NAME: what was seen".
Option Explicit

Dim url, handler
url = WScript.Arguments(0)

' Lets the request object send on its own threads for a while.
Sub Pause()
  Dim start
  start = Timer
  Do While Timer - start < 1 And Timer >= start
  Loop
End Sub

Sub Check(name, passed, seen)
  If passed Then
    WScript.Echo "ok " & name
  Else
    WScript.Echo "FAILED " & name & ": " & seen
  End If
End Sub

Set handler = WScript.CreateObject("marlgate_travels.httpHandler")
Check "idle before a request", handler.isRunning = False, handler.isRunning

' msTimeOut left out: the request waits 240000 ms for its reply.
handler.PostRequest url, "search", "harrow ford"
Pause
Check "running after PostRequest without msTimeOut", handler.isRunning = True, handler.isRunning

handler.Abort
Check "idle after Abort", handler.isRunning = False, handler.isRunning

handler.PostRequest url, "get", "Harrow Ford", 5000
Pause
Check "running after PostRequest with msTimeOut", handler.isRunning = True, handler.isRunning
handler.Abort
Check "idle after the second Abort", handler.isRunning = False, handler.isRunning

' A URL that is no text at all is the script's error, not the object's end.
On Error Resume Next
handler.PostRequest Array(1, 2), "search", "x"
Check "a wrong argument type is a script error", Err.Number = 13, Err.Number & " " & Err.Description
Err.Clear
On Error GoTo 0
Check "the object still answers", handler.isRunning = False, handler.isRunning

Set handler = Nothing
WScript.Echo "done"
