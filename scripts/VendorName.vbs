' The demo's scripting step: the automation wrapper reads a slave's vendor from the simulated
' bus, as a plant's script reads any OPC DA item.
Set srv = CreateObject("vkOPC.OPCAutoServer")
srv.Connect "Orvane.BusSimulator"
Set item = srv.OPCGroups.Add("Demo").OPCItems.AddItem("DP/Slave3/DS_Vendorname", 1)
item.Read 2, value, quality
WScript.Echo "DP/Slave3/DS_Vendorname = """ & value & """, quality " & quality
srv.Disconnect
