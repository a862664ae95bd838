' The wrapper's events reaching a script's handlers: DataChange, a refresh's DataChange with its
' TransactionID, AsyncCancelComplete, ServerShutDown, and a DataChange handler that removes its
' own group. Run by vbshost.exe (Wine's cscript cannot connect events); only the last line
' tells success.
Option Explicit

Dim srv, grp, latency, delay, spare, n
Dim changes, refreshed, cancelledId, readsCompleted, shutdownReason, removals

Sub Check(condition, text)
    If Not condition Then
        WScript.Echo "FAILED: " & text
        If IsObject(srv) Then srv.Disconnect
        WScript.Quit 1
    End If
End Sub

Sub Server_ServerShutDown(Reason)
    shutdownReason = Reason
End Sub

Sub Group_DataChange(TransactionID, NumItems, ClientHandles, ItemValues, Qualities, TimeStamps)
    changes = changes + 1
    If TransactionID = 33 Then refreshed = True
End Sub

Sub Group_AsyncReadComplete(TransactionID, NumItems, ClientHandles, ItemValues, Qualities, TimeStamps, Errors)
    readsCompleted = readsCompleted + 1
End Sub

Sub Group_AsyncCancelComplete(CancelID)
    cancelledId = CancelID
End Sub

Sub Spare_DataChange(TransactionID, NumItems, ClientHandles, ItemValues, Qualities, TimeStamps)
    removals = removals + 1
    srv.OPCGroups.Remove "Wegwerf"
End Sub

' About ten seconds at most for each awaited event.
Function Waited()
    n = n + 1
    WScript.Sleep 20
    Waited = n < 500
End Function

changes = 0: refreshed = False: cancelledId = 0: readsCompleted = 0: shutdownReason = "": removals = 0

Set srv = WScript.CreateObject("vkOPC.OPCAutoServer", "Server_")
srv.Connect "Orvane.BusSimulator"
Check srv.ServerState = 1, "ServerState after Connect is " & srv.ServerState

Set grp = srv.OPCGroups.Add("Ereignisse")
WScript.ConnectObject grp, "Group_"
grp.UpdateRate = 50
Set latency = grp.OPCItems.AddItem("Sim/Slave3/LatencyMs", 7)
Set delay = grp.OPCItems.AddItem("Sim/AsyncDelayMs", 8)
n = 0
Do While changes = 0 And Waited(): Loop
Check changes = 0, "DataChange before the group was subscribed"

grp.IsSubscribed = True
n = 0
Do While changes = 0 And Waited(): Loop
Check changes > 0, "no DataChange after subscribing"

Dim cancelId, errors, handles(1)
grp.AsyncRefresh 2, 33, cancelId
n = 0
Do While Not refreshed And Waited(): Loop
Check refreshed, "no DataChange with the refresh's TransactionID 33"

delay.Write 2000
handles(1) = latency.ServerHandle
grp.AsyncRead 1, handles, errors, 44, cancelId
grp.AsyncCancel cancelId
n = 0
Do While cancelledId = 0 And Waited(): Loop
Check cancelledId = 44, "AsyncCancelComplete carried " & cancelledId
Check readsCompleted = 0, "the cancelled read completed"
delay.Write 0

grp.OPCItems.AddItem("Sim/ShutdownRequest", 9).Write "Wartung um 22 Uhr"
n = 0
Do While shutdownReason = "" And Waited(): Loop
Check shutdownReason = "Wartung um 22 Uhr", "ServerShutDown carried """ & shutdownReason & """"

Set spare = srv.OPCGroups.Add("Wegwerf")
WScript.ConnectObject spare, "Spare_"
spare.UpdateRate = 50
spare.OPCItems.AddItem "DP/Slave3/DS_Vendorname", 1
spare.IsSubscribed = True
n = 0
Do While removals = 0 And Waited(): Loop
Check removals = 1, "the removing handler ran " & removals & " times"
Check srv.OPCGroups.Count = 1, "groups after the removal: " & srv.OPCGroups.Count
WScript.DisconnectObject spare
Set spare = Nothing

grp.OPCItems.AddItem("Sim/Reset", 10).Write True
srv.Disconnect
WScript.Echo "AUTOMATION-SCRIPT-OK"
