' Groups, items, reads, writes, a subscription and the browser through the automation wrapper
' and the bus simulator, as a plant's script uses them. cscript under Wine reports no script
' errors: only the last line tells success.
Option Explicit

Dim srv

Sub Check(condition, text)
    If Not condition Then
        WScript.Echo "FAILED: " & text
        ' Quit ends the process without releasing srv: the simulator would keep it forever.
        If IsObject(srv) Then srv.Disconnect
        WScript.Quit 1
    End If
End Sub

Set srv = CreateObject("vkOPC.OPCAutoServer")
srv.Connect "Orvane.BusSimulator"
Check srv.ServerState = 1, "ServerState after Connect is " & srv.ServerState

Dim grp, items, vendor, latency, profile
srv.OPCGroups.DefaultGroupUpdateRate = 100
Set grp = srv.OPCGroups.Add("Skript")
Set items = grp.OPCItems
Set vendor = items.AddItem("DP/Slave3/DS_Vendorname", 1)
Set latency = items.AddItem("Sim/Slave3/LatencyMs", 2)
Set profile = items.AddItem("DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber", 3)

Dim value, quality, stamp
vendor.Read 2, value, quality, stamp
Check value = "Axolent", "DS_Vendorname reads " & value
Check quality = 192, "quality is " & quality
Check VarType(stamp) = vbDate, "time stamp is no date"
Check vendor.Value = "Axolent", "Value is " & vendor.Value
Check vendor.Quality = 192, "Quality is " & vendor.Quality

' Types a script cannot hold arrive widened: VT_UI4 as Double, VT_UI2 as Long.
latency.Read 2, value
Check VarType(value) = vbDouble, "LatencyMs has VarType " & VarType(value)
profile.Read 2, value
Check VarType(value) = vbLong, "MA_ProfileIdentNumber has VarType " & VarType(value)
Check VarType(srv.GetOPCServers()) = (vbArray + vbString), "GetOPCServers is no text array"

latency.Write 9
latency.Read 2, value
Check value = 9, "LatencyMs after the write is " & value

Dim failed
On Error Resume Next
items.AddItem "No/Such/Item", 4
failed = Err.Number
On Error GoTo 0
Check failed = &HC0040007, "AddItem of an unknown item raised " & Hex(failed)

Dim g, i, n
n = 0
For Each g In srv.OPCGroups
    n = n + 1
Next
Check n = 1, "For Each saw " & n & " groups"
n = 0
For Each i In items
    n = n + 1
Next
Check n = 3, "For Each saw " & n & " items"

' A subscribed item follows a change made elsewhere; callbacks come in during outgoing calls.
Dim watcher, watched, writer
Set watcher = srv.OPCGroups.Add("Beobachter")
Set watched = watcher.OPCItems.AddItem("Sim/Slave3/LatencyMs", 10)
watcher.IsSubscribed = True
latency.Write 11
n = 0
Do While watched.Value <> 11 And n < 20000
    n = n + 1
    If srv.ServerState <> 1 Then n = 20000
Loop
Check watched.Value = 11, "the subscribed item shows " & watched.Value

Dim browser, found
Set browser = srv.CreateBrowser()
browser.Filter = "*DS_Vendorname"
browser.ShowLeafs True
found = False
For Each i In browser
    If i = "DP/Slave3/DS_Vendorname" Then found = True
Next
Check found, "the flat browse does not list DP/Slave3/DS_Vendorname (" & browser.Count & " names)"

items.AddItem("Sim/Reset", 99).Write True
srv.Disconnect
Check srv.ServerState = 6, "ServerState after Disconnect is " & srv.ServerState
Set srv = Nothing
WScript.Echo "AUTOMATION-SCRIPT-OK"
