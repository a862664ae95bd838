' The DA 1.0 face of the simulator: a subscribed item's Value follows a change made through
' another group, carried by IDataObject streams. Only the last line tells (cscript under Wine).
Option Explicit

Dim srv

Sub Check(condition, text)
    If Not condition Then
        WScript.Echo "FAILED: " & text
        If IsObject(srv) Then srv.Disconnect
        WScript.Quit 1
    End If
End Sub

Set srv = CreateObject("vkOPC.OPCAutoServer")
srv.Connect "Orvane.BusSimulatorDA1"
Check srv.ServerState = 1, "ServerState of Orvane.BusSimulatorDA1 is " & srv.ServerState

Dim writer, latency, watcher, watched, n
Set writer = srv.OPCGroups.Add("Schreiber")
Set latency = writer.OPCItems.AddItem("Sim/Slave3/LatencyMs", 1)
Set watcher = srv.OPCGroups.Add("Beobachter")
Set watched = watcher.OPCItems.AddItem("Sim/Slave3/LatencyMs", 2)
watcher.UpdateRate = 50
watcher.IsSubscribed = True
latency.Write 13
n = 0
Do While watched.Value <> 13 And n < 20000
    n = n + 1
    If srv.ServerState <> 1 Then n = 20000
Loop
Check watched.Value = 13, "the subscribed item shows " & watched.Value
Check VarType(watched.Value) = vbDouble, "VarType of a VT_UI4 value is " & VarType(watched.Value)

latency.Write 2
srv.Disconnect
Set srv = Nothing
WScript.Echo "AUTOMATION-SCRIPT-OK"
